#pragma once

#include <QString>

#include <cstddef>

// A device's product name from the capabilities record's fixed-size field: up to the first
// NUL, at most `size` bytes, UTF-8, without a character that the field's end cut in two.
QString deviceProductName(const char *name, std::size_t size);

#include "app/devicename.h"

QString deviceProductName(const char *name, std::size_t size)
{
    std::size_t length = 0;
    while (length < size && name[length] != '\0')
        ++length;
    // The service may have cut a long name at the field's end; drop a character cut in two.
    std::size_t lead = length;
    while (lead > 0 && (static_cast<unsigned char>(name[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead > 0) {
        const auto first = static_cast<unsigned char>(name[lead - 1]);
        const std::size_t need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (first >= 0xC0 && length - (lead - 1) < need)
            length = lead - 1;
    }
    return QString::fromUtf8(name, qsizetype(length));
}

// The meta JSON reader on any bytes: it never crashes, and whatever it accepts MetaJson writes
// back as a text it reads as the same profile.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "profile/meta_json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto profile =
        corvelle::ReadMetaJson(std::string_view(reinterpret_cast<const char*>(data), size));
    if (profile && corvelle::ReadMetaJson(corvelle::MetaJson(*profile)) != profile) {
        std::abort();
    }
    return 0;
}

// The language value of autorun.inf and the first byte of the language file, and the
// leading-number reading that the value (and every other number field) goes through.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "app/language.h"
#include "app/base/text_number.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// A scratch folder for the language file, removed when the run ends.
struct Scratch {
    Scratch()
    {
        char pattern[] = "/tmp/fuzz-language-XXXXXX";
        Check(mkdtemp(pattern) != nullptr);
        Folder = pattern;
    }
    ~Scratch()
    {
        std::remove(File().c_str());
        std::remove(Folder.c_str());
    }
    std::string File() const { return Folder + "/misc\\sabbel.dat"; }
    std::string Folder;
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // The C library's reading of a leading decimal number, saturating at the ends of the range.
    const long long reference = std::strtoll(bytes.c_str(), nullptr, 10);
    Check(LeadingNumber64(bytes) == reference);
    const long long clamped = reference > INT32_MAX ? INT32_MAX : reference < INT32_MIN ? INT32_MIN : reference;
    Check(LeadingNumber32(bytes) == clamped);

    // The profile reader hands over at most 255 characters, up to the first zero byte.
    const std::string value = bytes.substr(0, std::min<std::size_t>(bytes.find('\0'), 255));
    if (!value.empty())
        Check(ChooseLanguage(value, "", "") == LeadingNumber32(value));

    // The language file, read where the Starter reads it: a folder's misc\sabbel.dat (on
    // Linux the backslash is part of the file's name).
    static const Scratch scratch;
    std::FILE* file = std::fopen(scratch.File().c_str(), "wb");
    Check(file && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0);
    const int32_t language = ChooseLanguage("", scratch.Folder + "/", "");
    Check(size == 0 ? language == -1 : language == data[0]);
    return 0;
}

#include "zelk.h"

#include <zip.h>

namespace {

struct TArchive
{
    zip_t* Zip = nullptr;
};

} // namespace

extern "C" {

ZelkHandle Open(const char* Path, const char* Password)
{
    if (!Path || !*Path) return nullptr;
    int error = 0;
    zip_t* archive = zip_open(Path, ZIP_RDONLY, &error);
    if (!archive) return nullptr;
    if (Password && *Password && zip_set_default_password(archive, Password) != 0) {
        zip_discard(archive);
        return nullptr;
    }
    return new TArchive{archive};
}

int Exists(ZelkHandle Handle, const char* Name)
{
    if (!Handle || !Name) return 0;
    return zip_name_locate(static_cast<TArchive*>(Handle)->Zip, Name, 0) >= 0 ? 1 : 0;
}

int Extract(ZelkHandle Handle, const char* Name, ZelkStream* Stream)
{
    if (!Handle || !Name || !Stream || !Stream->Write) return 0;
    zip_t* archive = static_cast<TArchive*>(Handle)->Zip;
    const zip_int64_t index = zip_name_locate(archive, Name, 0);
    if (index < 0) return 0;
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (!file) return 0;
    // libzip checks the entry's checksum when the last byte has been read, so a damaged entry
    // fails here rather than handing back wrong bytes.
    char buffer[64 * 1024];
    int result = 1;
    for (;;) {
        const zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
        if (n < 0) {
            result = 0;
            break;
        }
        if (n == 0) break;
        const size_t size = static_cast<size_t>(n);
        if (Stream->Write(Stream->Context, buffer, size) != size) {
            result = 0;
            break;
        }
    }
    if (zip_fclose(file) != 0) result = 0;
    return result;
}

void Close(ZelkHandle Handle)
{
    if (!Handle) return;
    auto* archive = static_cast<TArchive*>(Handle);
    zip_discard(archive->Zip);
    delete archive;
}

} // extern "C"

// The version descriptor the update server publishes: read from a file as the update window
// reads it, then asked every question the window asks, for the program and for readers. The
// queries are fixed (they match the seeds), so mutations of the document decide what is found.
#include "FuzzCommon.h"
#include "uVerDesc.h"

#include <QCoreApplication>

namespace {

TVersionQuery Query(const char* version, uint8_t model, uint8_t edition, uint8_t manufacturer,
                    double date = 0)
{
    TVersionQuery q;
    q.SetVersion(version);
    q.Model = model;
    q.Edition = edition;
    q.Manufacturer = manufacturer;
    q.QueryDate = date;
    return q;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = Fuzz::Folder() + "/local_verdesc2.zip";
    if (!Fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    const TVersionQuery queries[] = {
        Query("1.0.0.1", 0, 0, 0x1F),            // the program itself
        Query("0136", 5, 2, 0x1F),               // a reader
        Query("0136", 5, 2, 0x1F, 45000),        // a reader, with a date to check expiry against
        Query("", 0x56, 0x02, 0x20),             // a reader that reports no version
        Query("\xB0\xE6", 0xFF, 0xFF, 0xFF),     // bytes above ASCII
    };
    try {
        TVerDesc desc(QString::fromStdString(path));
        for (const TVersionQuery& query : queries) {
            desc.GetEditionName(query);
            TVersion result;
            desc.FindUpdate(query, result);
        }
    } catch (const EVerDescError&) {
        // unreadable descriptor: the window says so
    }
    return 0;
}

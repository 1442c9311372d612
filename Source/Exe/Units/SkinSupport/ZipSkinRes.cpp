#include "ZipSkinRes.h"

TZipSkinResource::TZipSkinResource(const QString& path, const QString& password)
    : FPath(path), FPassword(password)
{
}

TZipSkinResource::~TZipSkinResource() = default;

void TZipSkinResource::Open()
{
    FLoader = std::make_unique<TZipLoader>(FPath, FPassword);
}

void TZipSkinResource::Close()
{
    FLoader.reset();
}

bool TZipSkinResource::Read(const QString& name, QIODevice& stream)
{
    if (!FLoader || !FLoader->Exists(name)) return false;
    return FLoader->Extract(name, stream);
}

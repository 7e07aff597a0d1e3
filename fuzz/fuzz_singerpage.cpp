// The singer-page cutter over arbitrary page bytes, with the picture-server
// prefix of the default host (the one the seed pages carry). The answer is
// either the "no singer" text or a piece of the page that starts with
// "http://" and ends with ".jpg", so the picture loader is only ever handed
// a web URL cut from the page itself.
#include "fuzz/FuzzCheck.h"
#include "service/FetchPage.h"
#include "service/LoadNetPicture.h"
#include "service/ServiceConfig.h"

#include <cstdint>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString prefix = ServiceConfig::pictureServerPrefix();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString page = musicservice::decodeBytes(bytes, QStringLiteral("utf-8"));

    const QString url = LoadNetPicture::cutSingerPictureUrl(page, prefix);
    if (url != LoadNetPicture::kNoSingerInfo) {
        check(page.contains(prefix));
        check(url.startsWith(QLatin1String("http://")) && url.endsWith(QLatin1String(".jpg")));
        check(page.contains(url));
    }
    check(LoadNetPicture::cutSingerPictureUrl(page, QString()) == LoadNetPicture::kNoSingerInfo);
    return 0;
}

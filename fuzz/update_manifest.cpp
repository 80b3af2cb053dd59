// The update manifest from Tarnwick's server. An offer is only ever a newer version than the one
// running, not the skipped one, with a download page on the manifest's own host.
#include "fuzzsupport.h"

#include "updates/updatechecker.h"

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QUrl manifest(QStringLiteral("https://updates.tarnwick.test/manifest.json"));
    const QString running = QStringLiteral("0.2.0");
    const std::optional<QString> skipped = QStringLiteral("9.9.9");
    const auto offer = UpdateChecker::offer(bytesOf(data, size), manifest, running, skipped);
    if (!offer)
        return 0;
    check(offer->url.isValid() && offer->url.host() == manifest.host(), "the download page is ours",
          offer->url.toString());
    check(UpdateChecker::isNewer(offer->version, running) && offer->version != *skipped,
          "only a newer version that was not skipped", offer->version);
    check(!UpdateChecker::isNewer(running, offer->version), "newer is one way only", offer->version);
    return 0;
}

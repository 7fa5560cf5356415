#include "media/MediaSession.h"

namespace orvan {

MediaSession MediaSession::open(const MediaBrowser& browser, const MediaExporter& exporter,
                                const std::optional<std::string>& preferredSerial) {
    return MediaSession(browser, exporter, browser.requireAnyDevice(preferredSerial));
}

}  // namespace orvan

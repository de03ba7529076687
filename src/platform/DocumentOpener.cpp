#include "platform/DocumentOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace clipwren::platform {

bool DocumentOpener::open(const QString& documentOrUrl, const QString& /*workingFolder*/, ShowCommand /*show*/) {
    // The desktop's opener decides the viewer and its window state; the working
    // folder and the wish for a maximised window cannot be passed on portably.
    const QUrl url = documentOrUrl.contains(QStringLiteral("://")) ? QUrl(documentOrUrl)
                                                                   : QUrl::fromLocalFile(documentOrUrl);
    return QDesktopServices::openUrl(url);
}

}  // namespace clipwren::platform

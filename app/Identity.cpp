#include "app/Identity.h"

#include <QGuiApplication>

namespace pelmora::app {

void setApplicationIdentity() {
    QGuiApplication::setApplicationName(QStringLiteral("Pelmora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("pelmora"));
}

}  // namespace pelmora::app

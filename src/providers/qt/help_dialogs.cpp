#include "providers/qt/help_dialogs.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include "core/state.h"

namespace rompush::platform::qt {

// Looked up on every pass, as the other dialogs are: a fresh program state brings a fresh box.
void AddHelpDialogs(FormRenderer& renderer) {
    renderer.AddForm([]() -> ui::Form* { return &g.forms->frmHelpAbout; });
}

void RecordHelpDialogs(WindowLog& log) {
    log.Record(g.forms->frmHelpAbout);
}

bool QtHelpViewer::ShowContents(const std::string& path) {
    const QUrl url = QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
    return QDesktopServices::openUrl(url);
}

}  // namespace rompush::platform::qt

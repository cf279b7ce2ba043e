#include "platform/ui/UWindowImages.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "platform/files/Files.h"
#include "platform/ui/LApplication.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UQtSupport.h"

namespace {

std::vector<FSSpec> LocalFiles(const QMimeData* inData) {
  std::vector<FSSpec> files;
  if (!inData || !inData->hasUrls()) return files;
  for (const QUrl& url : inData->urls()) {
    if (!url.isLocalFile()) continue;
    FSSpec spec;
    if (FSMakeFSSpecFromPath(url.toLocalFile().toStdString(), &spec) == noErr) files.push_back(spec);
  }
  return files;
}

// Lets top-level windows take drops of local files.
class UFileDropFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* inObject, QEvent* inEvent) override {
    auto* widget = qobject_cast<QWidget*>(inObject);
    if (!widget) return false;
    switch (inEvent->type()) {
      case QEvent::Show:
        if (widget->isWindow() && !widget->acceptDrops()) widget->setAcceptDrops(true);
        return false;
      case QEvent::DragEnter: {
        auto* e = static_cast<QDragEnterEvent*>(inEvent);
        if (!LocalFiles(e->mimeData()).empty()) {
          e->acceptProposedAction();
          return true;
        }
        return false;
      }
      case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(inEvent);
        std::vector<FSSpec> files = LocalFiles(e->mimeData());
        if (files.empty()) return false;
        e->acceptProposedAction();
        // Opened after the drop has finished, from our loop.
        QMetaObject::invokeMethod(
            qApp, [files] {
              if (LApplication* app = LApplication::GetApplication()) app->HandleOpenDocuments(files);
            },
            Qt::QueuedConnection);
        return true;
      }
      default: return false;
    }
  }
};

}  // namespace

Boolean UWindowImages::SaveWindowImage(LWindow* inWindow, const std::string& inPath) {
  if (!inWindow) return false;
  QWidget* frame = inWindow->GetFrameWidget();
  if (!frame) return false;
  QImage image = frame->grab().toImage();
  if (image.isNull()) return false;
  return image.save(QString::fromStdString(inPath), "PNG");
}

Boolean UWindowImages::ShowsPicture(LWindow* inWindow) {
  if (!inWindow || !inWindow->IsVisible()) return false;
  QWidget* content = inWindow->GetWidget();
  if (!content) return false;
  QImage image = content->grab().toImage();
  if (image.isNull() || image.width() < 8 || image.height() < 8) return false;
  std::vector<QRgb> seen;
  const int rows = image.height() * 6 / 10;
  for (int j = 0; j < 32; ++j)
    for (int i = 0; i < 32; ++i) {
      QRgb c = image.pixel(i * (image.width() - 1) / 31, j * (rows - 1) / 31);
      if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
      if (seen.size() > 8) return true;
    }
  return false;
}

void UWindowImages::AcceptFileDrops() {
  UQt::EnsureApplication();
  static UFileDropFilter* sFilter = nullptr;
  if (sFilter) return;
  sFilter = new UFileDropFilter(qApp);
  qApp->installEventFilter(sFilter);
  for (QWidget* w : QApplication::topLevelWidgets()) w->setAcceptDrops(true);
}

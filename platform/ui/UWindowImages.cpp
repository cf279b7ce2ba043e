#include "platform/ui/UWindowImages.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>
#include <QWidget>

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

void UWindowImages::AcceptFileDrops() {
  UQt::EnsureApplication();
  static UFileDropFilter* sFilter = nullptr;
  if (sFilter) return;
  sFilter = new UFileDropFilter(qApp);
  qApp->installEventFilter(sFilter);
  for (QWidget* w : QApplication::topLevelWidgets()) w->setAcceptDrops(true);
}

#include "platform/ui/UNavPresenters.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <map>
#include <memory>

#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"

namespace {

struct Shown {
  QPointer<QDialog> dialog;
  QPointer<QWidget> custom;  // the custom area's widget, ours: it leaves the dialog before the dialog goes
};

std::map<UInt32, Shown>& ShownDialogs() {
  static auto* sShown = new std::map<UInt32, Shown>;
  return *sShown;
}

QString Q(const std::string& inText) { return QString::fromUtf8(inText.c_str()); }

QWidget* ParentOf(const SQuestion& inQ) { return inQ.parent ? inQ.parent->GetFrameWidget() : nullptr; }

// Reply that fires only once, whichever signal comes first.
struct OnceReply {
  UResponder::Reply reply;
  bool done = false;
  void operator()(const SAnswer& inAnswer) {
    if (done) return;
    done = true;
    if (reply) reply(inAnswer);
  }
};

// Gives the custom area's widget back (hidden, without parent) so that it
// is never deleted with the dialog; the pane model deletes it.
void Release(UInt32 inID) {
  auto it = ShownDialogs().find(inID);
  if (it == ShownDialogs().end()) return;
  if (it->second.custom) {
    it->second.custom->hide();
    it->second.custom->setParent(nullptr);
  }
  ShownDialogs().erase(it);
}

// Tells the navigation dialog when its real window is activated or deactivated.
class ActivationFilter : public QObject {
 public:
  ActivationFilter(UInt32 inID, QObject* inParent) : QObject(inParent), mID(inID) {}
  bool eventFilter(QObject* inObject, QEvent* inEvent) override {
    if (inEvent->type() == QEvent::WindowActivate) UNavPresenters::WindowEvent(mID, 5);
    if (inEvent->type() == QEvent::WindowDeactivate) UNavPresenters::WindowEvent(mID, 6);
    return QObject::eventFilter(inObject, inEvent);
  }

 private:
  UInt32 mID;
};

void Track(UInt32 inID, QDialog* inDialog, QWidget* inCustom) {
  if (!inID) return;
  ShownDialogs()[inID] = Shown{inDialog, inCustom};
  inDialog->installEventFilter(new ActivationFilter(inID, inDialog));
  QObject::connect(inDialog, &QDialog::finished, inDialog, [inID] { Release(inID); });
}

}  // namespace

namespace {

// Lists the files the question's filter takes (folders always), asking it
// with the name filter chosen in the dialog.
class CFileFilterModel : public QSortFilterProxyModel {
 public:
  CFileFilterModel(std::function<bool(const std::string&, SInt32)> inFilter, QObject* inParent)
      : QSortFilterProxyModel(inParent), mFilter(std::move(inFilter)) {}
  void SetChoice(SInt32 inChoice) {
    mChoice = inChoice;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int inRow, const QModelIndex& inParent) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (!files) return true;
    const QModelIndex index = files->index(inRow, 0, inParent);
    if (files->isDir(index)) return true;
    return mFilter(files->filePath(index).toStdString(), mChoice);
  }

 private:
  std::function<bool(const std::string&, SInt32)> mFilter;
  SInt32 mChoice = 1;
};

}  // namespace

void UNavPresenters::PresentFile(const SQuestion& inQ, UResponder::Reply inReply) {
  auto* dialog = new QFileDialog(ParentOf(inQ), Q(inQ.title));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(inQ.parent ? Qt::WindowModal : Qt::ApplicationModal);
  QWidget* custom = nullptr;
  if (inQ.customArea) {
    // The custom area lies below the file list: only our own dialog has room for it.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    custom = inQ.customArea->GetWidget();
    // The area lies in no window: its panes' widgets are made here, and it
    // shows the dialog's own background.
    std::vector<LPane*> panes(inQ.customArea->GetSubPanes().begin(), inQ.customArea->GetSubPanes().end());
    while (!panes.empty()) {
      LPane* pane = panes.back();
      panes.pop_back();
      pane->GetWidget();
      if (auto* view = dynamic_cast<LView*>(pane))
        panes.insert(panes.end(), view->GetSubPanes().begin(), view->GetSubPanes().end());
    }
    custom->setAttribute(Qt::WA_OpaquePaintEvent, false);
    custom->setAttribute(Qt::WA_NoSystemBackground, false);
    custom->setAutoFillBackground(true);
    SDimension16 size;
    inQ.customArea->GetFrameSize(size);
    custom->setParent(dialog);
    custom->setFixedSize(size.width, size.height);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()))
      grid->addWidget(custom, grid->rowCount(), 0, 1, grid->columnCount(), Qt::AlignLeft);
    custom->show();
  }
  const bool filtered = inQ.fileFilter && inQ.kind == question_OpenFile;
  QStringList filters;
  for (const std::string& f : inQ.choices) {
    QString filter = Q(f);
    // With the question's own filter the names match every file and the
    // filter narrows them; the patterns are then not shown.
    if (filtered) filter = filter.left(filter.indexOf(QLatin1Char('('))).trimmed() + QStringLiteral(" (*)");
    filters << filter;
  }
  if (!filters.isEmpty()) dialog->setNameFilters(filters);
  if (inQ.defaultChoice >= 1 && inQ.defaultChoice <= filters.size())
    dialog->selectNameFilter(filters[inQ.defaultChoice - 1]);
  if (filtered) {
    // Which files a filter lists is the question's to say (stored file
    // types, not only name endings): only our own dialog can ask it.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    auto* model = new CFileFilterModel(inQ.fileFilter, dialog);
    dialog->setProxyModel(model);
    model->SetChoice(static_cast<SInt32>(std::max<qsizetype>(filters.indexOf(dialog->selectedNameFilter()), 0) + 1));
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog, model](const QString& inFilter) {
      model->SetChoice(static_cast<SInt32>(std::max<qsizetype>(dialog->nameFilters().indexOf(inFilter), 0) + 1));
    });
  }
  switch (inQ.kind) {
    case question_SaveFile:
      dialog->setAcceptMode(QFileDialog::AcceptSave);
      dialog->setFileMode(QFileDialog::AnyFile);
      if (!inQ.folder.empty()) dialog->setDirectory(Q(inQ.folder));
      dialog->selectFile(Q(inQ.defaultName));
      break;
    case question_ChooseFolder:
      dialog->setFileMode(QFileDialog::Directory);
      dialog->setOption(QFileDialog::ShowDirsOnly, true);
      if (!inQ.defaultName.empty()) dialog->setDirectory(Q(inQ.defaultName));
      break;
    default:
      dialog->setFileMode(QFileDialog::ExistingFiles);
      if (!inQ.defaultName.empty()) dialog->setDirectory(Q(inQ.defaultName));
      break;
  }
  if (!inQ.explanation.empty()) dialog->setLabelText(QFileDialog::Accept, Q(inQ.explanation));
  Track(inQ.dialogID, dialog, custom);
  auto once = std::make_shared<OnceReply>(OnceReply{inReply});
  UInt32 id = inQ.dialogID;
  QObject::connect(dialog, &QFileDialog::filesSelected, dialog, [once, dialog, id](const QStringList& inFiles) {
    SAnswer a;
    for (const QString& f : inFiles) a.paths.push_back(f.toStdString());
    a.cancelled = a.paths.empty();
    a.choice = static_cast<SInt32>(dialog->nameFilters().indexOf(dialog->selectedNameFilter()) + 1);
    Release(id);
    (*once)(a);
  });
  QObject::connect(dialog, &QDialog::rejected, dialog, [once, id] {
    Release(id);
    (*once)(SAnswer::Cancel());
  });
  dialog->open();
}

void UNavPresenters::PresentQuestion(const SQuestion& inQ, UResponder::Reply inReply) {
  auto* box = new QMessageBox(ParentOf(inQ));
  box->setAttribute(Qt::WA_DeleteOnClose);
  // The review of several documents at quitting concerns the whole program.
  box->setWindowModality(inQ.parent && inQ.kind != question_ReviewChanges ? Qt::WindowModal : Qt::ApplicationModal);
  box->setIcon(QMessageBox::Warning);
  box->setWindowTitle(Q(inQ.title));
  box->setText(Q(inQ.message));
  box->setInformativeText(Q(inQ.explanation));
  std::vector<QAbstractButton*> buttons;
  for (size_t i = 0; i < inQ.choices.size(); ++i) {
    SInt32 number = static_cast<SInt32>(i + 1);
    QMessageBox::ButtonRole role = QMessageBox::ActionRole;
    if (number == inQ.defaultChoice) role = QMessageBox::AcceptRole;
    else if (number == inQ.cancelChoice) role = QMessageBox::RejectRole;
    else role = QMessageBox::DestructiveRole;  // Don't Save, Discard All
    buttons.push_back(box->addButton(Q(inQ.choices[i]), role));
  }
  if (buttons.empty()) buttons.push_back(box->addButton(QMessageBox::Ok));
  if (inQ.defaultChoice >= 1 && inQ.defaultChoice <= static_cast<SInt32>(buttons.size()))
    box->setDefaultButton(static_cast<QPushButton*>(buttons[static_cast<size_t>(inQ.defaultChoice - 1)]));
  if (inQ.cancelChoice >= 1 && inQ.cancelChoice <= static_cast<SInt32>(buttons.size()))
    box->setEscapeButton(buttons[static_cast<size_t>(inQ.cancelChoice - 1)]);
  Track(inQ.dialogID, box, nullptr);
  auto once = std::make_shared<OnceReply>(OnceReply{inReply});
  SInt32 cancel = inQ.cancelChoice;
  UInt32 id = inQ.dialogID;
  // The button clicked is the answer (finished(int) is no button code).
  QObject::connect(box, &QMessageBox::buttonClicked, box, [once, buttons, cancel, id](QAbstractButton* inButton) {
    for (size_t i = 0; i < buttons.size(); ++i)
      if (buttons[i] == inButton) {
        SAnswer a = SAnswer::Choice(static_cast<SInt32>(i + 1));
        a.cancelled = a.choice == cancel;
        Release(id);
        (*once)(a);
        return;
      }
  });
  QObject::connect(box, &QDialog::rejected, box, [once, id] {
    Release(id);
    (*once)(SAnswer::Cancel());
  });
  box->open();
}

void UNavPresenters::Dismiss(UInt32 inDialogID) {
  auto it = ShownDialogs().find(inDialogID);
  if (it == ShownDialogs().end()) return;
  QPointer<QDialog> dialog = it->second.dialog;
  Release(inDialogID);
  if (dialog) {
    dialog->disconnect();
    dialog->close();
    dialog->deleteLater();
  }
}

std::string UNavPresenters::GetFileName(UInt32 inDialogID, const std::string& inFallback) {
  QDialog* dialog = GetDialog(inDialogID);
  if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
    if (auto* edit = files->findChild<QLineEdit*>("fileNameEdit")) return edit->text().toStdString();
    QStringList chosen = files->selectedFiles();
    if (!chosen.isEmpty()) return chosen.front().section('/', -1).toStdString();
  }
  return inFallback;
}

void UNavPresenters::SetFileName(UInt32 inDialogID, const std::string& inName) {
  if (auto* files = qobject_cast<QFileDialog*>(GetDialog(inDialogID))) {
    if (auto* edit = files->findChild<QLineEdit*>("fileNameEdit"))
      edit->setText(Q(inName));
    else
      files->selectFile(Q(inName));
  }
}

QDialog* UNavPresenters::GetDialog(UInt32 inDialogID) {
  auto it = ShownDialogs().find(inDialogID);
  return it == ShownDialogs().end() ? nullptr : it->second.dialog.data();
}

// Inside the desktop layer only: the widget that shows a self-drawing pane
// (paints the pane's part of its window's port, forwards mouse and keys).
#pragma once

#include <QWidget>

#include "platform/base/MacTypes.h"

class LPane;

class UPaneHost : public QWidget {
 public:
  UPaneHost(LPane* inPane, QWidget* inParent);
  ~UPaneHost() override;
  LPane* GetPane() const { return mPane; }
  void ForgetPane() { mPane = nullptr; }

  // The pane a widget shows (the property every pane's widget carries); nil when none.
  static LPane* FetchPane(const QWidget* inWidget);
  static void MarkWidget(QWidget* inWidget, LPane* inPane);

  // Builds the mouse-down the panes see and hands it to the pane (with the
  // click count); used by every pane widget.
  static void DeliverMouseDown(LPane* inPane, QWidget* inWidget, QMouseEvent* inEvent);
  static void DeliverMouseMove(QWidget* inWidget, QMouseEvent* inEvent);
  // A key to the target (false: nobody took it).
  static bool DeliverKey(QKeyEvent* inEvent, bool inDown);
  static UInt16 ModifiersOf(Qt::KeyboardModifiers inMods);

 protected:
  void paintEvent(QPaintEvent* inEvent) override;
  void mousePressEvent(QMouseEvent* inEvent) override;
  void mouseDoubleClickEvent(QMouseEvent* inEvent) override;
  void mouseMoveEvent(QMouseEvent* inEvent) override;
  void mouseReleaseEvent(QMouseEvent* inEvent) override;
  void keyPressEvent(QKeyEvent* inEvent) override;

  LPane* mPane;
};

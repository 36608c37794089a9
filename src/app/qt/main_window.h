// The main window NTBrimF: menus, drive list, message area, map picture,
// charts and lists. It implements the shell's port; its events call the
// shell's procedures.
#pragma once

#include <QMainWindow>
#include <map>

#include "app/pump_gate.h"
#include "app/shell_port.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;

namespace vr {

class DrawingLayer;
class HelpWindow;
class Logo;
class MapPicture;
class MessageArea;
class PlainPicture;

class NTBrimF : public QMainWindow, public ShellPort {
  Q_OBJECT
 public:
  explicit NTBrimF(QWidget* parent = nullptr);
  ~NTBrimF() override;

  // Controls, for the map windows and tests.
  QAction* Action(MenuItem item) const;
  QMenu* MenuOf(MenuItem title) const;
  QComboBox* DrvUser() const { return drvUser_; }
  MessageArea* Messages() const { return messages_; }
  MapPicture* PicMap() const { return picMap_; }
  QWidget* ControlWidget(Control c) const;
  HelpWindow* Help() const { return help_; }
  // When DoEvents serves the message queue.
  PumpGate& Pump() { return pump_; }

  // MainWindowPort
  void MsgClear() override;
  void MsgSetPos(int x, int y) override;
  int MsgX() const override;
  int MsgY() const override;
  void MsgWrite(const std::string& text, int colour) override;
  void MsgEndLine() override;
  void SetVisible(Control c, bool visible) override;
  bool IsVisible(Control c) const override;
  void SetEnabled(Control c, bool enabled) override;
  void ClearList(Control c) override;
  void AddItem(Control c, const std::string& text) override;
  std::vector<std::string> Items(Control c) const override;
  int RightOf(Control c) const override;
  void MessageBox(const std::string& text, MsgIcon icon) override;
  void Beep() override;
  void DoEvents() override;
  void SetBusyCursor(bool busy) override;
  void BringToFront() override;
  bool WindowVisible() const override;
  void ShowWindow() override;
  std::string DrvUserText() const override;
  void ShowMapWindow(MapKind kind, const std::string& caption) override;

  // ShellPort
  bool MenuChecked(MenuItem item) const override;
  void SetMenuChecked(MenuItem item, bool checked) override;
  void SetHelpContext(int context) override { helpContext_ = context; }
  int HelpContext() const override { return helpContext_; }
  int DrvUserIndex() const override;
  void SetDrvUserIndex(int index) override;
  void ClearMap() override;
  void SetLabel(Control c, const std::string& text) override;
  void PlaceMap(int width, int height) override;
  ScreenMetrics Metrics() const override;
  void HideWindow() override;
  void EndProgram(int exitCode) override;
  void ShowAbout(const std::string& appText, const std::string& otherText) override;
  void ShowHelp(int context) override;
  bool SaveMapImage(const std::string& file) override;
  bool SaveWindowImage(const std::string& file) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildControls();
  QListWidget* List(Control c) const;
  QAction* MenuControl(Control c) const;

  std::map<MenuItem, QAction*> actions_;
  std::map<MenuItem, QMenu*> menus_;
  MessageArea* messages_ = nullptr;
  DrawingLayer* drawings_ = nullptr;  // the pie chart, under the controls
  QComboBox* drvUser_ = nullptr;
  MapPicture* picMap_ = nullptr;
  PlainPicture* picHistoF_ = nullptr;
  PlainPicture* picHistoE_ = nullptr;
  QListWidget* lstValErrs_ = nullptr;
  QGroupBox* frmInuse_ = nullptr;
  QListWidget* lstInuse_ = nullptr;
  QListWidget* raw_ = nullptr;
  QLabel* lblCount_ = nullptr;
  Logo* imgBrim_ = nullptr;
  QLabel* lblMaker_ = nullptr;
  HelpWindow* help_ = nullptr;
  int helpContext_ = 0;
  bool busyCursor_ = false;
  PumpGate pump_;
};

}  // namespace vr

// The dialog's window, controls and About box as laid out by the templates.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "firmware/image_origin.h"
#include "tests/ui/dialog_harness.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"

namespace q9m::testing {
namespace {

using D = ui::CK2pUpdatorDlg;

class DialogLayoutTest : public DialogTest {};

TEST_F(DialogLayoutTest, TitleCarriesTheInstanceNumberFromTwoOn) {
  EXPECT_EQ(Open(1).windowTitle(), QStringLiteral("Vela Q9m System v2.00 Updater"));
  EXPECT_EQ(Open(2).windowTitle(), QStringLiteral("Vela Q9m System v2.00 Updater (2)"));
  EXPECT_EQ(Open(20).windowTitle(), QStringLiteral("Vela Q9m System v2.00 Updater (20)"));
}

TEST_F(DialogLayoutTest, WindowIsFixedSizeWithACloseBoxOnly) {
  auto& dialog = Open();
  const ui::DialogUnits du(dialog.font());
  EXPECT_EQ(dialog.size(), du.Size(239, 161));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  const Qt::WindowFlags flags = dialog.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
}

TEST_F(DialogLayoutTest, NoControlOverlapsAnotherAndEveryTextFits) {
  auto& dialog = Open();
  std::vector<QWidget*> controls;
  for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!w->isWindow() && w->isVisible()) controls.push_back(w);
  }
  ASSERT_EQ(controls.size(), 10u);
  for (size_t i = 0; i < controls.size(); ++i) {
    EXPECT_TRUE(dialog.rect().contains(controls[i]->geometry()))
        << controls[i]->objectName().toStdString();
    for (size_t j = i + 1; j < controls.size(); ++j) {
      EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
          << controls[i]->objectName().toStdString() << " / "
          << controls[j]->objectName().toStdString();
    }
  }
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    EXPECT_LE(button->sizeHint().height(), button->height() + 2) << button->text().toStdString();
    EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width())
        << button->text().toStdString();
  }
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    EXPECT_LE(label->sizeHint().height(), label->height() + 1) << label->text().toStdString();
  }
  // The step field holds the longest step text, the activity field the longest counter.
  QLineEdit* step = Field(D::kIdStep);
  EXPECT_LT(step->fontMetrics().horizontalAdvance(QStringLiteral("12/12")), step->width());
  QLineEdit* activity = Field(D::kIdActivity);
  EXPECT_LT(activity->fontMetrics().horizontalAdvance(
                QStringLiteral("Data transmit  6434816 / 6434816 ")),
            activity->width());
}

TEST_F(DialogLayoutTest, TabOrderDefaultButtonAndInitialFocus) {
  auto& dialog = Open();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  EXPECT_EQ(QApplication::focusWidget(), Button(D::kIdExecute));
  EXPECT_TRUE(Button(D::kIdExecute)->isDefault());
  EXPECT_FALSE(Button(D::kIdExit)->isDefault());

  const std::vector<int> expected = {D::kIdExit,   D::kIdMidiIn, D::kIdMidiOut, D::kIdActivity,
                                     D::kIdRescan, D::kIdStep,   D::kIdExecute};
  for (int id : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("control%1").arg(id));
  }
}

TEST_F(DialogLayoutTest, ContextMenuOffersTheAboutEntry) {
  auto& dialog = Open();
  QMenu* menu = dialog.WindowMenu();
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("About VELA Q9m Updater(&A)..."));
  EXPECT_EQ(menu->actions()[0]->data().toInt(), 0x10);
  // Beside it, verifying by read-back: offered, off until the user checks it.
  EXPECT_EQ(menu->actions()[1], dialog.VerifyEntry());
  EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("Verify after writing"));
  EXPECT_TRUE(menu->actions()[1]->isCheckable());
  EXPECT_FALSE(menu->actions()[1]->isChecked());

  // A right click on the dialog pops the menu up.
  bool popped = false;
  QTimer::singleShot(50, [&] {
    popped = QApplication::activePopupWidget() == menu;
    menu->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 200),
                          dialog.mapToGlobal(QPoint(20, 200)));
  QApplication::sendEvent(&dialog, &event);
  EXPECT_TRUE(popped);
}

TEST_F(DialogLayoutTest, AboutBoxShowsTheProgramWithoutTheInstanceNumber) {
  auto& dialog = Open(3);
  QRect about;
  QString name;
  bool readOnly = false;
  bool okIsDefault = false;
  QSize size;
  bool hasIcon = false;
  ModalWatcher watcher([&](QDialog& modal) {
    size = modal.size();
    auto* field = modal.findChild<QLineEdit*>(QStringLiteral("control1003"));
    auto* ok = modal.findChild<QPushButton*>(QStringLiteral("control1"));
    if (field != nullptr) {
      name = field->text();
      readOnly = field->isReadOnly();
      about = field->geometry();
    }
    okIsDefault = ok != nullptr && ok->isDefault();
    for (QLabel* label : modal.findChildren<QLabel*>()) {
      if (!label->pixmap().isNull()) hasIcon = true;
    }
    ModalWatcher::PressOk(modal);
  });
  dialog.WindowMenu()->actions()[0]->trigger();

  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].title, QStringLiteral("About Q9m Updater"));
  EXPECT_EQ(watcher.Seen()[0].parent, &dialog);
  EXPECT_EQ(name, QStringLiteral("Vela Q9m System v2.00 Updater"));
  EXPECT_TRUE(readOnly);
  EXPECT_TRUE(okIsDefault);
  EXPECT_TRUE(hasIcon);
  const ui::DialogUnits du(ui::DialogFont());
  EXPECT_EQ(size, du.Size(235, 60));
  EXPECT_EQ(about, du.Rect(39, 19, 134, 14));
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(DialogLayoutTest, AboutBoxLayoutKeepsItsControlsApartAndInside) {
  ui::CAboutDlg about;
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  const auto children = about.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(children.size(), 4);
  for (qsizetype i = 0; i < children.size(); ++i) {
    EXPECT_TRUE(about.rect().contains(children[i]->geometry()));
    for (qsizetype j = i + 1; j < children.size(); ++j) {
      EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()));
    }
  }
  for (const char* name : {"control1003", "control1004"}) {
    auto* field = about.findChild<QLineEdit*>(QString::fromLatin1(name));
    ASSERT_NE(field, nullptr) << name;
    EXPECT_LT(field->fontMetrics().horizontalAdvance(field->text()), field->width()) << name;
  }
  // Which images the program carries, as the console and --version say it.
  EXPECT_EQ(about.findChild<QLineEdit*>(QStringLiteral("control1004"))->text().toStdString(),
            firmware::ImageOriginText());
  QTest::keyClick(&about, Qt::Key_Escape);
  EXPECT_FALSE(about.isVisible());
}

}  // namespace
}  // namespace q9m::testing

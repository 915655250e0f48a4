#include "gui/about_dialog.hpp"

#include <gtest/gtest.h>

#include <QLabel>

#include "gui/version_info.hpp"

namespace sejfko::test {
namespace {

TEST(AboutDialogTest, ShowsTheCompiledInVersionValues) {
    TDiAbout dialog;
    EXPECT_EQ(dialog.windowTitle(), "O programu");
    EXPECT_EQ(dialog.LblFirm->text(), QString::fromUtf8(version::CompanyName));
    EXPECT_EQ(dialog.LblProduct->text(), QString::fromUtf8(version::ProductName));
    EXPECT_EQ(dialog.LblVersion->text(), "Verze " + QString::fromUtf8(version::FileVersion));
    EXPECT_EQ(dialog.LblCopyright->text(), QString::fromUtf8(version::LegalCopyright));
    EXPECT_EQ(dialog.LblWarning->text(), QString::fromUtf8(version::Comments));
    EXPECT_TRUE(dialog.LblWarning->wordWrap());
    EXPECT_EQ(dialog.LblAddress->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(dialog.ImgAbout->pixmap().isNull());
}

TEST(AboutDialogTest, MissingValuesLeaveTheirLabels) {
    TDiAbout dialog;
    const QString product = dialog.LblProduct->text();
    dialog.Fill({"Jiná firma", "", "", "", ""});
    EXPECT_EQ(dialog.LblFirm->text(), "Jiná firma");
    EXPECT_EQ(dialog.LblProduct->text(), product);
}

}  // namespace
}  // namespace sejfko::test

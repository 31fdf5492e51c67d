// Pictures of the four tabs for the documentation. Runs only when
// CVN_DIALOG_PICTURES names a folder; the PNG files are written there.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTabWidget>
#include <cstdlib>

#include "tests/dialog/DialogTestSupport.h"

namespace cvn::test {
namespace {

class DialogPictures : public DialogTest {};

bool savePicture(const QImage& image, const QString& path) {
    // Written beside the target and renamed, so a reader never sees half a file.
    const QString temp = path + QStringLiteral(".part");
    if (!image.save(temp, "PNG")) return false;
    QFile::remove(path);
    return QFile::rename(temp, path);
}

TEST_F(DialogPictures, EachTabAgainstTheSimulator) {
    const char* folder = std::getenv("CVN_DIALOG_PICTURES");
    if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "CVN_DIALOG_PICTURES is not set";
    sim::SimProcess sim({"--model", "MSOHX5104"});
    tell(sim, ":CHANnel3:DISPlay 1");
    tell(sim, ":FUNCtion2:FFT CHAN1");
    store(kKeyAddress, sim.address());
    store(kKeyActiveChannels, "CHAN1,CHAN3,POD1");
    ASSERT_TRUE(show([&](FWCdlgHalv& d) {
        for (int tab = 0; tab < d.SSTab1->count(); ++tab) {
            d.SSTab1->setCurrentIndex(tab);
            const QImage image = d.grab().toImage();
            ASSERT_FALSE(image.isNull());
            const QString path = QDir(QString::fromLocal8Bit(folder))
                                     .filePath(QStringLiteral("dialog-tab%1.png").arg(tab));
            EXPECT_TRUE(savePicture(image, path)) << path.toStdString();
        }
        d.cmdCancel_Click();
    }));
}

}  // namespace
}  // namespace cvn::test

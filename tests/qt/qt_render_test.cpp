// Drawing without a display: a window grabs to a PNG on the offscreen platform, and the
// faces of the window designs resolve to installed fonts that have real glyphs (without
// fonts Qt silently draws empty boxes instead of letters).

#include "platform/qt/QtApplication.h"
#include "platform/qt/QtControlPeer.h"
#include "platform/qt/QtConvert.h"
#include "platform/qt/QtUiBackend.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"

#include "tests/support/QtTestApplication.h"

#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(QtRenderTest, DesignFacesResolveToInstalledFontsWithGlyphs)
{
    QtTestApplication();
    struct Case {
        const char* face;
        bool fixedPitch;
    };
    const Case cases[] = {
        {.face = "MS Sans Serif", .fixedPitch = false},
        {.face = "Tahoma", .fixedPitch = false},
        {.face = "", .fixedPitch = false},
        {.face = "Courier New", .fixedPitch = true},
        {.face = "Times New Roman", .fixedPitch = false},
        {.face = "DejaVu Sans", .fixedPitch = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.face);
        TFont design;
        design.Name = c.face;
        const QFont font = ToQFont(design, QFont());
        EXPECT_TRUE(QFontDatabase::hasFamily(font.family())) << font.family().toStdString();
        EXPECT_EQ(QFontInfo(font).family(), font.family()); // the family really used
        EXPECT_EQ(QFontInfo(font).fixedPitch(), c.fixedPitch);
        EXPECT_EQ(font.pixelSize(), 11);
        const QFontMetrics metrics(font);
        for (char32_t ch : {U'A', U'é', U'è', U'à', U'ç'})
            EXPECT_TRUE(metrics.inFontUcs4(ch)) << static_cast<unsigned>(ch);
    }
    // An installed face is kept as it is.
    EXPECT_EQ(ResolveFontFamily("DejaVu Sans").toStdString(), "DejaVu Sans");
}

TEST(QtRenderTest, AWindowGrabsToAPngWithItsTextDrawn)
{
    QtApplication app(QtTestApplication());
    QtUiBackend backend(app);
    TForm form(nullptr, "UpdateFrm");
    form.ClientWidth = 362;
    form.ClientHeight = 150;
    form.BorderStyle = TBorderStyle::bsSingle;
    auto* status = new TLabel(&form, "Label1");
    status->SetBounds(8, 24, 107, 13);
    status->SetCaption("Téléchargement terminé avec succès.");
    backend.AttachPeers(form);
    form.Show();
    app.ProcessMessages();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("window.png");
    ASSERT_TRUE(QtControlPeer::WidgetOf(&form)->grab().save(path, "PNG"));
    QImage image(path);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(362, 150));

    // The label's area holds text: pixels darker than the window face, in a band as tall
    // as letters, not a uniform block (boxes instead of glyphs would be outlines only).
    const QColor face = image.pixelColor(2, 2);
    const QRect area = QtControlPeer::WidgetOf(status)->geometry();
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y).lightness() < face.lightness() - 80)
                ++dark;
    EXPECT_GT(dark, 50);
    EXPECT_LT(dark, area.width() * area.height() / 2);
    // Outside the controls the window is plain face colour.
    EXPECT_EQ(image.pixelColor(300, 100), face);
}

} // namespace

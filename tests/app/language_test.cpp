#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/language.h"

using namespace zelbo::app;

namespace {

// The German catalogue the build puts beside the program (and the tests).
QString builtCatalogue() { return QDir(QCoreApplication::applicationDirPath()).filePath("zelbo_de.qm"); }

struct Folder {
    QTemporaryDir dir;
    Folder(std::initializer_list<const char*> names)
    {
        for (const char* n : names) QFile::copy(builtCatalogue(), dir.filePath(QString::fromLatin1(n)));
    }
    QString path() const { return dir.path(); }
};

const int kGerman = languageId(QLocale::German);
const int kGermanAustria = languageId(QLocale::German, QLocale::Austria);
const int kFrench = languageId(QLocale::French, QLocale::France);

} // namespace

TEST(Language, CatalogueIsBuiltBesideTheProgram)
{
    ASSERT_TRUE(QFile::exists(builtCatalogue())) << builtCatalogue().toStdString();
}

TEST(Language, ProfileChoiceWinsAndFallsBackToTheLanguageAlone)
{
    Folder f({"zelbo_de.qm"});
    LanguageSelector s(f.path());
    EXPECT_EQ(s.choose(kGermanAustria, {"fr-FR"}), kGerman); // de_AT -> de
    EXPECT_NE(s.translator(), nullptr);
}

TEST(Language, ProfileWithoutCatalogueFallsThroughToTheUiLanguages)
{
    Folder f({"zelbo_de_DE.qm"});
    LanguageSelector s(f.path());
    // French has no catalogue; the UI language de-AT finds de_DE through the
    // language's main territory.
    EXPECT_EQ(s.choose(kFrench, {"fr-FR", "de-AT"}), languageId(QLocale::German, QLocale::Germany));
}

TEST(Language, NothingFoundUsesTheBuiltInTexts)
{
    Folder f({});
    LanguageSelector s(f.path());
    EXPECT_EQ(s.choose(0, {"ja-JP", "de-DE"}), builtInLanguage());
    EXPECT_EQ(s.translator(), nullptr);
    // English in another territory is the built-in language too.
    EXPECT_EQ(s.choose(languageId(QLocale::English, QLocale::UnitedKingdom), {}), builtInLanguage());
}

TEST(Language, ListsBuiltInAndEveryCatalogueOnceAndTranslatesInAChosenLanguage)
{
    Folder f({"zelbo_de.qm", "zelbo_fr.qm", "notzelbo_it.qm", "zelbo_xx_garbage.qm"});
    LanguageSelector s(f.path());
    const auto list = s.available();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].id, builtInLanguage());
    EXPECT_EQ(list[1].id, kGerman);
    EXPECT_EQ(list[0].displayName, "English");
    EXPECT_EQ(list[1].displayName, "Deutsch");
    EXPECT_EQ(list[2].id, languageId(QLocale::French));

    EXPECT_EQ(s.translate(kGerman, "CTQ5170xHWPDlg", "Please restart Zelbo."), "Bitte starten Sie Zelbo neu.");
    EXPECT_EQ(s.translate(builtInLanguage(), "CTQ5170xHWPDlg", "Please restart Zelbo."), "Please restart Zelbo.");
    // The language in use does not change by asking.
    EXPECT_EQ(s.current(), builtInLanguage());
}

TEST(Language, AnUnreadableCatalogueIsSkipped)
{
    QTemporaryDir dir;
    {
        QFile bad(dir.filePath("zelbo_de.qm"));
        ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
        bad.write("this is not a catalogue");
    }
    LanguageSelector s(dir.path());
    EXPECT_EQ(s.choose(kGerman, {}), builtInLanguage());
}

#pragma once
// The user-interface language. The program's own texts are English; other
// languages come from Qt translation catalogues "zelbo_<locale>.qm" beside the
// program. A language is an integer id: QLocale::Language in the low 10 bits,
// QLocale::Territory above (0 = any territory); 0 means "none". The user's
// choice is the profile value "LanguageId"; it takes effect at the next start.

#include <memory>
#include <vector>

#include <QLocale>
#include <QString>
#include <QStringList>

class QTranslator;

namespace zelbo::app {

int languageId(QLocale::Language language, QLocale::Territory territory = QLocale::AnyTerritory);
QLocale::Language languageOf(int id);
QLocale::Territory territoryOf(int id);

// The language of the program's own texts.
int builtInLanguage();

struct LanguageEntry {
    int id = 0;
    QString catalogue; // empty for the built-in language
    QString displayName;
};

class LanguageSelector {
public:
    explicit LanguageSelector(QString folder, QString baseName = QStringLiteral("zelbo"));
    ~LanguageSelector();

    // Tries the candidates in order (the profile value, then each of the
    // user's UI languages, then the built-in language) and keeps the first that
    // works. Returns the id in use.
    int choose(int profileId, const QStringList& uiLanguages);

    // Exact id, then the language alone, then the language in its main
    // territory. The built-in language always succeeds.
    bool tryLanguage(int id);

    int current() const { return current_; }
    // The translator to install (null when the built-in texts are used).
    QTranslator* translator() const { return translator_.get(); }

    // The built-in language and every catalogue found, each once.
    std::vector<LanguageEntry> available() const;

    // `source` in language `id` (the built-in text when no catalogue has it).
    QString translate(int id, const char* context, const char* source) const;

    static QString displayName(int id);

private:
    bool tryExact(int id);
    QString catalogueFor(int id) const;

    QString folder_;
    QString base_;
    int current_ = 0;
    std::unique_ptr<QTranslator> translator_;
};

} // namespace zelbo::app

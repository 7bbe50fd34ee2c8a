#include "app/language.h"

#include <QDir>
#include <QFileInfo>
#include <QTranslator>

namespace zelbo::app {

int languageId(QLocale::Language language, QLocale::Territory territory)
{
    return static_cast<int>(language) | (static_cast<int>(territory) << 10);
}

QLocale::Language languageOf(int id) { return static_cast<QLocale::Language>(id & 0x3FF); }
QLocale::Territory territoryOf(int id) { return static_cast<QLocale::Territory>((id >> 10) & 0x3FF); }

int builtInLanguage() { return languageId(QLocale::English, QLocale::UnitedStates); }

namespace {

QString localeTag(int id)
{
    const QLocale::Language lang = languageOf(id);
    const QLocale::Territory terr = territoryOf(id);
    if (terr == QLocale::AnyTerritory) {
        // The language code alone: "de" for German.
        const QString name = QLocale(lang).name();
        return name.section('_', 0, 0);
    }
    return QLocale(lang, terr).name();
}

int idFromTag(const QString& tag)
{
    const QLocale loc(tag);
    if (loc.language() == QLocale::C) return 0;
    const bool withTerritory = tag.contains('_') || tag.contains('-');
    return languageId(loc.language(), withTerritory ? loc.territory() : QLocale::AnyTerritory);
}

} // namespace

LanguageSelector::LanguageSelector(QString folder, QString baseName)
    : folder_(std::move(folder)), base_(std::move(baseName)), current_(builtInLanguage())
{
}

LanguageSelector::~LanguageSelector() = default;

QString LanguageSelector::catalogueFor(int id) const
{
    return QDir(folder_).filePath(base_ + '_' + localeTag(id) + ".qm");
}

bool LanguageSelector::tryExact(int id)
{
    if (id == 0) return false;
    if (id == builtInLanguage()) {
        translator_.reset();
        current_ = id;
        return true;
    }
    if (languageOf(id) == QLocale::C || languageOf(id) == QLocale::AnyLanguage) return false;
    const QString file = catalogueFor(id);
    if (!QFileInfo::exists(file)) return false;
    auto t = std::make_unique<QTranslator>();
    if (!t->load(file)) return false;
    translator_ = std::move(t);
    current_ = id;
    return true;
}

bool LanguageSelector::tryLanguage(int id)
{
    if (id == 0) return false;
    if (tryExact(id)) return true;
    const QLocale::Language lang = languageOf(id);
    if (territoryOf(id) != QLocale::AnyTerritory && tryExact(languageId(lang))) return true;
    const QLocale::Territory main = QLocale(lang).territory();
    if (main != territoryOf(id) && tryExact(languageId(lang, main))) return true;
    return false;
}

int LanguageSelector::choose(int profileId, const QStringList& uiLanguages)
{
    if (tryLanguage(profileId)) return current_;
    for (const QString& tag : uiLanguages) {
        QString t = tag;
        t.replace('-', '_');
        if (tryLanguage(idFromTag(t))) return current_;
    }
    tryExact(builtInLanguage());
    return current_;
}

std::vector<LanguageEntry> LanguageSelector::available() const
{
    std::vector<LanguageEntry> list;
    list.push_back({builtInLanguage(), QString(), displayName(builtInLanguage())});
    const QDir dir(folder_);
    const auto files = dir.entryInfoList({base_ + "_*.qm"}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& f : files) {
        const QString tag = f.completeBaseName().mid(base_.size() + 1);
        const int id = idFromTag(tag);
        if (id == 0) continue;
        bool dup = false;
        for (const auto& e : list) dup = dup || e.id == id;
        if (dup) continue;
        list.push_back({id, f.absoluteFilePath(), displayName(id)});
    }
    return list;
}

QString LanguageSelector::translate(int id, const char* context, const char* source) const
{
    if (id == builtInLanguage() || id == 0) return QString::fromUtf8(source);
    QTranslator t;
    // The same fallbacks as choosing a language.
    const QLocale::Language lang = languageOf(id);
    const int candidates[] = {id, languageId(lang), languageId(lang, QLocale(lang).territory())};
    for (int c : candidates) {
        if (t.load(catalogueFor(c))) {
            const QString s = t.translate(context, source);
            return s.isEmpty() ? QString::fromUtf8(source) : s;
        }
    }
    return QString::fromUtf8(source);
}

QString LanguageSelector::displayName(int id)
{
    // The program's own texts: plainly "English", whatever territory its id
    // carries for the profile.
    if (id == builtInLanguage()) return QStringLiteral("English");
    const QLocale::Language lang = languageOf(id);
    const QLocale::Territory terr = territoryOf(id);
    const QLocale loc = terr == QLocale::AnyTerritory ? QLocale(lang) : QLocale(lang, terr);
    if (loc.language() == lang && lang != QLocale::C) {
        QString n = loc.nativeLanguageName();
        if (!n.isEmpty()) {
            if (terr != QLocale::AnyTerritory && !loc.nativeTerritoryName().isEmpty())
                n += QStringLiteral(" (%1)").arg(loc.nativeTerritoryName());
            return n;
        }
        n = QLocale::languageToString(lang);
        if (!n.isEmpty()) return n;
    }
    return QStringLiteral("%1 - ???").arg(id);
}

} // namespace zelbo::app

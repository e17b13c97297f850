#include "ui/base/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

// One message of a .ts file.
struct ts_message {
  QString context;
  QString source;
  QString translation;
  QString type;  // "unfinished", "vanished", "obsolete" or empty (finished)
};

// The messages of the .ts file at `path`; an unreadable file gives none and a failure.
std::vector<ts_message> read_ts(const QString& path) {
  std::vector<ts_message> messages;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot read " << path.toStdString();
    return messages;
  }
  QXmlStreamReader xml(&file);
  QString context;
  ts_message current;
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) continue;
    if (xml.name() == u"name") {
      context = xml.readElementText();
    } else if (xml.name() == u"message") {
      current = ts_message{context, {}, {}, {}};
    } else if (xml.name() == u"source") {
      current.source = xml.readElementText();
    } else if (xml.name() == u"translation") {
      current.type = xml.attributes().value(QStringLiteral("type")).toString();
      current.translation = xml.readElementText();
      messages.push_back(current);
    }
  }
  if (xml.hasError()) ADD_FAILURE() << path.toStdString() << ": " << xml.errorString().toStdString();
  return messages;
}

// Every .ts file of the console.
QStringList ts_files() {
  const QDir folder(QStringLiteral(QUORVANE_TRANSLATIONS));
  QStringList files;
  for (const QString& name : folder.entryList({QStringLiteral("quorvane_*.ts")}, QDir::Files))
    files << folder.filePath(name);
  return files;
}

// The placeholders of a text ("%1", "%2", ...), sorted, each once.
std::set<QString> placeholders(const QString& text) {
  static const QRegularExpression pattern(QStringLiteral("%L?\\d+"));
  std::set<QString> found;
  for (const QRegularExpressionMatch& match : pattern.globalMatch(text)) found.insert(match.captured());
  return found;
}

// The translation of `source` in `context` by the translators installed. (Called through here so that
// lupdate, which reads this file too, does not take the test's texts for the console's.)
QString translated(const char* context, const char* source) {
  return QCoreApplication::translate(context, source);
}

std::string described(const ts_message& m) {
  return (m.context + QStringLiteral(" \"") + m.source + QStringLiteral("\"")).toStdString();
}

TEST(Translations, EveryLanguageTranslatesEveryTextWithTheSamePlaceholders) {
  const QStringList files = ts_files();
  ASSERT_FALSE(files.isEmpty()) << "no quorvane_*.ts in " << QUORVANE_TRANSLATIONS;
  for (const QString& file : files) {
    const std::vector<ts_message> messages = read_ts(file);
    EXPECT_FALSE(messages.empty()) << file.toStdString();
    for (const ts_message& m : messages) {
      // A text that left the sources is gone from the file (lupdate runs with -no-obsolete).
      EXPECT_TRUE(m.type.isEmpty()) << file.toStdString() << ": " << described(m) << " is "
                                    << m.type.toStdString() << "; translate it and remove type=\""
                                    << m.type.toStdString() << "\"";
      EXPECT_FALSE(m.translation.trimmed().isEmpty())
          << file.toStdString() << ": " << described(m) << " has no translation";
      EXPECT_EQ(placeholders(m.translation), placeholders(m.source))
          << file.toStdString() << ": " << described(m) << " -> \"" << m.translation.toStdString() << "\"";
    }
  }
}

// lupdate, run over the sources into a copy of each .ts, must find nothing to add: a text shown to the user
// that is missing from a .ts (a new text without a run of the lupdate target) fails here.
TEST(Translations, EveryTextOfTheSourcesIsInEveryLanguage) {
  const QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  for (const QString& file : ts_files()) {
    const QString copy = scratch.filePath(QFileInfo(file).fileName());
    ASSERT_TRUE(QFile::copy(file, copy));
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    const QString source = QStringLiteral(QUORVANE_UI_SOURCE);
    lupdate.start(QStringLiteral(QUORVANE_LUPDATE),
                  {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-no-obsolete"),
                   QStringLiteral("-no-ui-lines"), QStringLiteral("-extensions"), QStringLiteral("cpp,h"),
                   QStringLiteral("-I"), QDir(source).filePath(QStringLiteral("..")), source,
                   QStringLiteral("-ts"), copy});
    ASSERT_TRUE(lupdate.waitForFinished(120000)) << "lupdate did not end";
    const QByteArray output = lupdate.readAll();
    ASSERT_EQ(lupdate.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(lupdate.exitCode(), 0) << output.toStdString();

    std::set<std::pair<QString, QString>> committed;
    for (const ts_message& m : read_ts(file)) committed.emplace(m.context, m.source);
    std::set<std::pair<QString, QString>> current;
    for (const ts_message& m : read_ts(copy)) current.emplace(m.context, m.source);
    for (const auto& [context, source] : current) {
      EXPECT_TRUE(committed.count({context, source}))
          << QFileInfo(file).fileName().toStdString() << " lacks " << context.toStdString() << " \""
          << source.toStdString() << "\": run the lupdate target and translate it";
    }
    for (const auto& [context, source] : committed) {
      EXPECT_TRUE(current.count({context, source}))
          << QFileInfo(file).fileName().toStdString() << " keeps " << context.toStdString() << " \""
          << source.toStdString() << "\", which no source shows any more: run the lupdate target";
    }
  }
}

// Puts the console back into English after each case, as every other test expects.
class InstalledTranslations : public testing::Test {
 protected:
  void TearDown() override { install_translations(QLocale(QLocale::English, QLocale::UnitedStates)); }
};

TEST_F(InstalledTranslations, FollowTheUsersFirstLanguage) {
  struct language_case {
    const char* name;
    QLocale locale;
    const char* want_language;
    const char* want_console_text;  // ("quorvane::CProxyLogin", "Cancel")
    const char* want_qt_text;       // Qt's own ("QPlatformTheme", "Cancel")
  };
  const language_case cases[] = {
      // A translated language: the console's texts and Qt's own.
      {"German", QLocale(QLocale::German, QLocale::Germany), "de", "Abbrechen", "Abbrechen"},
      {"Austrian German falls back to German", QLocale(QLocale::German, QLocale::Austria), "de", "Abbrechen",
       "Abbrechen"},
      // English, or a language without a translation of the console: English throughout, Qt's included.
      {"English", QLocale(QLocale::English, QLocale::UnitedKingdom), "", "Cancel", "Cancel"},
      {"Japanese (no translation)", QLocale(QLocale::Japanese, QLocale::Japan), "", "Cancel", "Cancel"},
  };
  for (const language_case& c : cases) {
    // Each case starts from German installed, so that a case that installs nothing must remove it.
    install_translations(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(install_translations(c.locale), QString::fromUtf8(c.want_language)) << c.name;
    EXPECT_EQ(translated("quorvane::CProxyLogin", "Cancel"), QString::fromUtf8(c.want_console_text))
        << c.name;
    EXPECT_EQ(translated("QPlatformTheme", "Cancel"), QString::fromUtf8(c.want_qt_text)) << c.name;
  }
}

}  // namespace
}  // namespace quorvane

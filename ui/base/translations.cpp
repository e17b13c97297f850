#include "ui/base/translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

#include "core/log.h"

namespace quorvane {
namespace {

// The translators installed now; replaced as a whole by the next call.
std::unique_ptr<QTranslator>& console_translator() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}

std::unique_ptr<QTranslator>& qt_translator() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}

void remove_installed() {
  for (std::unique_ptr<QTranslator>* held : {&console_translator(), &qt_translator()}) {
    if (*held) QCoreApplication::removeTranslator(held->get());
    held->reset();
  }
}

}  // namespace

QString install_translations(const QLocale& locale) {
  remove_installed();
  // The source texts are English: a user who puts English before a translated language reads English.
  for (const QString& language : locale.uiLanguages()) {
    if (language == u"en" || language.startsWith(u"en-") || language == u"C") return {};
    auto console = std::make_unique<QTranslator>();
    if (!console->load(QLocale(language), QStringLiteral("quorvane"), QStringLiteral("_"),
                       QStringLiteral(":/i18n"))) {
      continue;
    }
    QCoreApplication::installTranslator(console.get());
    console_translator() = std::move(console);
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(qt.get());
      qt_translator() = std::move(qt);
    } else {
      QV_LOG(log_information,
             "Qt's own translation for '%s' is not installed; its standard buttons stay English",
             language.toUtf8().constData());
    }
    return QFileInfo(console_translator()->filePath()).completeBaseName().section(u'_', 1);
  }
  return {};
}

}  // namespace quorvane

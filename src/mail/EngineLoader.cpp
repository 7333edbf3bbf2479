// Opens the engine module on first use. Kestrine itself links neither Qt
// Network nor GMime, so the window starts without them and their libraries;
// they load with the module on the first NewMail.
#include "mail/EngineLoader.h"

#include "mail/MailErrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <system_error>

namespace mail {
namespace {

// The module as installed (<prefix>/lib/kestrine from <prefix>/bin) and as
// built (the build's lib/kestrine from its bin), then beside the program.
QStringList ModuleCandidates() {
  std::error_code failed;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
  if (failed)
    return {};
  const QString folder = QFile::decodeName(program.parent_path().c_str());
  const QString name = QStringLiteral(KESTRINE_MAIL_MODULE_NAME);
  return {QDir::cleanPath(folder + QStringLiteral("/../" KESTRINE_MAIL_MODULE_DIR "/") + name),
          folder + u'/' + name};
}

// Why the file at `path` may have been put there by someone else, or empty. A
// module runs as whoever runs the program (root too), so the file and every
// folder above it must belong to root, to this user or to the program file's
// own owner (who could replace the program just as well), and none may be
// writable by every user unless it is a sticky folder such as /tmp. A copy of
// the program under /tmp would otherwise load /tmp/lib/kestrine/... from
// whoever created it.
QString WhyNotTrusted(const QString &path, uid_t programOwner) {
  for (QString at = QDir::cleanPath(path);; at = QFileInfo(at).path()) {
    struct stat status {};
    if (lstat(QFile::encodeName(at).constData(), &status) == 0) {
      if (status.st_uid != 0 && status.st_uid != geteuid() && status.st_uid != programOwner)
        return QStringLiteral("not used: %1 belongs to another user (uid %2)")
            .arg(at, QString::number(status.st_uid));
      const bool everyoneWrites = !S_ISLNK(status.st_mode) && (status.st_mode & S_IWOTH) != 0;
      if (everyoneWrites && !(S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0))
        return QStringLiteral("not used: every user may write to %1").arg(at);
    }
    if (at == QStringLiteral("/") || !at.startsWith(u'/'))
      return {};
  }
}

// What dlerror says, without the path it starts with: the path is said once.
QString LoaderWords(const QString &path) {
  const char *said = dlerror();
  QString words = said ? QString::fromLocal8Bit(said) : QStringLiteral("no reason given");
  if (words.startsWith(path + QStringLiteral(": ")))
    words.remove(0, path.size() + 2);
  return words;
}

} // namespace

const KestrineMailEngine *OpenEngineModule(const QStringList &candidates, QString &why) {
  QStringList tried;
  struct stat program {};
  const uid_t programOwner = stat("/proc/self/exe", &program) == 0 ? program.st_uid : 0;
  for (const QString &path : candidates) {
    if (const QString unsafe = WhyNotTrusted(path, programOwner); !unsafe.isEmpty()) {
      tried << path + QStringLiteral(" (") + unsafe + u')';
      continue;
    }
    // Never closed: GMime stays started for the rest of the run.
    void *module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      tried << path + QStringLiteral(" (") + LoaderWords(path) + u')';
      continue;
    }
    auto *const entry = reinterpret_cast<KestrineMailEngineEntry>(dlsym(module, KESTRINE_MAIL_ENGINE_SYMBOL));
    if (!entry) {
      tried << path + QStringLiteral(" (") + LoaderWords(path) + u')';
      dlclose(module);
      continue;
    }
    const KestrineMailEngine *table = entry();
    if (table && table->version == KESTRINE_MAIL_ENGINE_VERSION && table->size >= sizeof(KestrineMailEngine))
      return table;
    tried << path + QStringLiteral(" (its entry table is version %1, this program needs version %2)")
                        .arg(table ? table->version : 0)
                        .arg(KESTRINE_MAIL_ENGINE_VERSION);
    dlclose(module);
  }
  if (candidates.isEmpty())
    tried << QStringLiteral("nowhere: the program's own path could not be read from /proc/self/exe");
  why = QStringLiteral("its module %1 could not be loaded; tried %2. Reinstall Kestrine, or run the program "
                       "where it was installed: it looks for the module in ../%3 and in its own folder")
            .arg(QStringLiteral(KESTRINE_MAIL_MODULE_NAME), tried.join(QStringLiteral("; ")),
                 QStringLiteral(KESTRINE_MAIL_MODULE_DIR));
  return nullptr;
}

const KestrineMailEngine &Engine() {
  static std::mutex opening;
  static const KestrineMailEngine *opened = nullptr;
  const std::lock_guard<std::mutex> lock(opening);
  if (!opened) {
    QString why;
    opened = OpenEngineModule(ModuleCandidates(), why);
    if (!opened)
      Raise(kCannotStart, {}, why);
  }
  return *opened;
}

} // namespace mail

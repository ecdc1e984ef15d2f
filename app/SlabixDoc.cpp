#include "app/SlabixDoc.h"

#include <QDataStream>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a name that is there is no file to open or save as, or an empty string
// for a regular file. Opening a FIFO would wait for its other end, a device
// or a socket is no document, and a folder is not a file.
QString NotAFile(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISDIR(mode))
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    if (S_ISFIFO(mode))
        return QStringLiteral("It is a named pipe, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("It is a socket, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("It is a device, not a file");
    return QStringLiteral("It is not a file");
}

QString Reason(int nError)
{
    return QString::fromLocal8Bit(std::strerror(nError));
}

QString CannotOpen(const QString& strPath, const QString& strReason)
{
    return QStringLiteral("Cannot open %1.\n%2")
        .arg(QDir::toNativeSeparators(CSlabixDoc::DisplayName(strPath)), strReason);
}

QString CannotSave(const QString& strPath, const QString& strReason)
{
    return QStringLiteral("Cannot save %1.\n%2")
        .arg(QDir::toNativeSeparators(CSlabixDoc::DisplayName(strPath)), strReason);
}

constexpr char16_t ESCAPE_FIRST = 0xDC80;
constexpr char16_t ESCAPE_LAST = 0xDCFF;

// The length of the well-formed UTF-8 sequence at p (of n bytes left), or 0.
int Utf8Length(const unsigned char* p, qsizetype n)
{
    const unsigned char c = p[0];
    int nLen = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        nLen = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        nLen = 3;
        if (c == 0xE0)
            lo = 0xA0;  // no overlong forms
        else if (c == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        nLen = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n < nLen || p[1] < lo || p[1] > hi)
        return 0;
    for (int k = 2; k < nLen; ++k) {
        if (p[k] < 0x80 || p[k] > 0xBF)
            return 0;
    }
    return nLen;
}

// Opens the name without waiting (a FIFO put in a file's place has nobody at
// the other end), makes sure that what was opened is a regular file, and
// hands back its descriptor in blocking mode; -1 and the reason otherwise.
int OpenRegularFile(const QByteArray& name, int nFlags, QString* pWhy)
{
    const int fd = ::open(name.constData(), nFlags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *pWhy = Reason(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const QString strWhy = NotAFile(st.st_mode);
        ::close(fd);
        *pWhy = strWhy.isEmpty() ? Reason(EIO) : strWhy;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

QString CSlabixDoc::FileNameFromBytes(const QByteArray& name)
{
    QString strName;
    const auto* p = reinterpret_cast<const unsigned char*>(name.constData());
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n;) {
        const int nLen = Utf8Length(p + i, n - i);
        if (nLen == 0) {
            strName += QChar(char16_t(ESCAPE_FIRST + (p[i] - 0x80)));
            ++i;
        } else {
            strName += QString::fromUtf8(name.constData() + i, nLen);
            i += nLen;
        }
    }
    return strName;
}

QByteArray CSlabixDoc::FileNameToBytes(const QString& strName)
{
    QByteArray name;
    qsizetype nTextStart = 0;
    for (qsizetype i = 0; i < strName.size(); ++i) {
        const char16_t c = strName[i].unicode();
        const bool bLone = c >= ESCAPE_FIRST && c <= ESCAPE_LAST && (i == 0 || !strName[i - 1].isHighSurrogate());
        if (!bLone)
            continue;
        name += QStringView(strName).mid(nTextStart, i - nTextStart).toUtf8();
        name += char(0x80 + (c - ESCAPE_FIRST));
        nTextStart = i + 1;
    }
    name += QStringView(strName).mid(nTextStart).toUtf8();
    return name;
}

QString CSlabixDoc::DisplayName(const QString& strName)
{
    QString strShown = strName;
    for (qsizetype i = 0; i < strShown.size(); ++i) {
        const char16_t c = strShown[i].unicode();
        if (c >= ESCAPE_FIRST && c <= ESCAPE_LAST && (i == 0 || !strShown[i - 1].isHighSurrogate()))
            strShown[i] = QChar::ReplacementCharacter;
    }
    return strShown;
}

void CSlabixDoc::Serialize(QDataStream& /*ar*/, bool /*bStoring*/)
{
}

QString CSlabixDoc::OnOpenDocument(const QString& strPath)
{
    const QByteArray name = FileNameToBytes(strPath);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return CannotOpen(strPath, Reason(errno));
    if (QString strWhy = NotAFile(st.st_mode); !strWhy.isEmpty())
        return CannotOpen(strPath, strWhy);
    // The name may have become something else since it was looked at.
    QString strWhy;
    const int fd = OpenRegularFile(name, O_RDONLY, &strWhy);
    if (fd < 0)
        return CannotOpen(strPath, strWhy);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return CannotOpen(strPath, file.errorString());
    }
    DeleteContents();
    QDataStream ar(&file);
    Serialize(ar, false);
    return QString();
}

QString CSlabixDoc::OnSaveDocument(const QString& strPath)
{
    const QByteArray name = FileNameToBytes(strPath);
    struct stat st {};
    if (::stat(name.constData(), &st) == 0) {
        if (QString strWhy = NotAFile(st.st_mode); !strWhy.isEmpty())
            return CannotSave(strPath, strWhy);
    }
    QString strWhy;
    const int fd = OpenRegularFile(name, O_WRONLY | O_CREAT | O_TRUNC, &strWhy);
    if (fd < 0)
        return CannotSave(strPath, strWhy);
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        ::close(fd);
        return CannotSave(strPath, file.errorString());
    }
    QDataStream ar(&file);
    Serialize(ar, true);
    const bool bWritten = file.flush();
    const QString strWriteError = file.errorString();
    file.close();
    // The file is on the disk, or the disk says why not (a full disk, a
    // quota, an input/output error often show only here).
    int nError = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        nError = errno;
    if (::close(fd) != 0 && nError == 0)
        nError = errno;
    if (!bWritten)
        return CannotSave(strPath, strWriteError);
    if (nError != 0)
        return CannotSave(strPath, Reason(nError));
    return QString();
}

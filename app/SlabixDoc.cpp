#include "app/SlabixDoc.h"

#include <QDataStream>
#include <QDir>
#include <QFile>

void CSlabixDoc::Serialize(QDataStream& /*ar*/, bool /*bStoring*/)
{
}

QString CSlabixDoc::OnOpenDocument(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("Cannot open %1.\n%2")
            .arg(QDir::toNativeSeparators(strPath), file.errorString());
    }
    DeleteContents();
    QDataStream ar(&file);
    Serialize(ar, false);
    return QString();
}

QString CSlabixDoc::OnSaveDocument(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return QStringLiteral("Cannot save %1.\n%2")
            .arg(QDir::toNativeSeparators(strPath), file.errorString());
    }
    QDataStream ar(&file);
    Serialize(ar, true);
    file.close();
    if (file.error() != QFileDevice::NoError) {
        return QStringLiteral("Cannot save %1.\n%2")
            .arg(QDir::toNativeSeparators(strPath), file.errorString());
    }
    return QString();
}

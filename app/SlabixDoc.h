// The document: the game keeps nothing in it. New, Open and Save go through
// the usual motions on files, and the (empty) serialisation reads and writes
// nothing.
#pragma once

#include "platform/View.h"

#include <QString>

class QDataStream;

class CSlabixDoc : public CDocument {
public:
    CSlabixDoc() = default;

    // Stores or loads the document's contents: there are none.
    void Serialize(QDataStream& ar, bool bStoring);

    // Opens the file and reads it through Serialize. Returns an empty string on
    // success, else a sentence for the player saying what went wrong.
    QString OnOpenDocument(const QString& strPath);
    // Creates or truncates the file and writes it through Serialize (so the
    // file ends up empty). Same result convention as OnOpenDocument.
    QString OnSaveDocument(const QString& strPath);

    // File names as the system has them, bytes, and as the shell's strings.
    // Bytes that are no UTF-8 stand in the string as the lone surrogates
    // U+DC80 to U+DCFF, so every name the system gives comes back unchanged.
    static QString FileNameFromBytes(const QByteArray& name);
    static QByteArray FileNameToBytes(const QString& strName);
    // The name to show the player: a stand-in for each byte that is no text.
    static QString DisplayName(const QString& strName);
};

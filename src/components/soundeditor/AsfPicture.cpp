#include "components/soundeditor/AsfPicture.h"

#include <QtEndian>

namespace clipwren::soundeditor {

namespace {

// Object GUIDs as ASF stores them (the first three fields little-endian).
const QByteArray kHeaderObject = QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c");
const QByteArray kFilePropertiesObject = QByteArray::fromHex("a1dcab8c47a9cf118ee400c00c205365");
const QByteArray kHeaderExtensionObject = QByteArray::fromHex("b503bf5f2ea9cf118ee300c00c205365");
const QByteArray kMetadataLibraryObject = QByteArray::fromHex("941c23449894d149a1411d134e457054");

constexpr int kObjectHeader = 24;                          // GUID and 64-bit size
constexpr int kHeaderObjectFields = kObjectHeader + 6;     // and object count, two reserved bytes
constexpr int kFileSizeField = kObjectHeader + 16;         // after the file ID
constexpr int kExtensionDataSizeField = kObjectHeader + 18;  // after a reserved GUID and word
constexpr uint16_t kByteArrayType = 1;

QByteArray le16(uint16_t value) {
    char bytes[2];
    qToLittleEndian<quint16>(value, bytes);
    return QByteArray(bytes, 2);
}
QByteArray le32(uint32_t value) {
    char bytes[4];
    qToLittleEndian<quint32>(value, bytes);
    return QByteArray(bytes, 4);
}
QByteArray le64(uint64_t value) {
    char bytes[8];
    qToLittleEndian<quint64>(value, bytes);
    return QByteArray(bytes, 8);
}
QByteArray utf16z(const QString& text) {
    QString terminated = text + QChar(0);
    QByteArray bytes;
    for (const QChar c : terminated) bytes += le16(c.unicode());
    return bytes;
}
void addTo64(QByteArray& bytes, qsizetype at, uint64_t amount) {
    qToLittleEndian<quint64>(qFromLittleEndian<quint64>(bytes.constData() + at) + amount, bytes.data() + at);
}

// A metadata library object holding one file-wide WM/Picture attribute.
QByteArray metadataLibrary(const CoverPicture& cover) {
    const QByteArray name = utf16z(QStringLiteral("WM/Picture"));
    const QByteArray value = QByteArray(1, char(kFrontCoverType)) + le32(uint32_t(cover.data.size())) +
                             utf16z(QString::fromLatin1(coverMimeType(cover))) +
                             utf16z(QString()) + cover.data;
    const QByteArray record = le16(0) + le16(0) + le16(uint16_t(name.size())) + le16(kByteArrayType) +
                              le32(uint32_t(value.size())) + name + value;
    const QByteArray body = le16(1) + record;
    return kMetadataLibraryObject + le64(uint64_t(kObjectHeader + body.size())) + body;
}

}  // namespace

AsfPictureInserter::AsfPictureInserter(const CoverPicture& cover) : library_(metadataLibrary(cover)) {}

int64_t AsfPictureInserter::headerLength(const QByteArray& start) const {
    if (start.size() < kObjectHeader) return 0;
    if (!start.startsWith(kHeaderObject)) return -1;
    return int64_t(qFromLittleEndian<quint64>(start.constData() + 16));
}

QByteArray AsfPictureInserter::rewrite(const QByteArray& original) const {
    QByteArray header = original;
    qsizetype fileProperties = -1, extension = -1;
    for (qsizetype at = kHeaderObjectFields; at + kObjectHeader <= header.size();) {
        const uint64_t size = qFromLittleEndian<quint64>(header.constData() + at + 16);
        if (size < kObjectHeader || size > uint64_t(header.size() - at)) return original;
        const QByteArray guid = header.mid(at, 16);
        if (guid == kFilePropertiesObject) fileProperties = at;
        if (guid == kHeaderExtensionObject) extension = at;
        at += qsizetype(size);
    }
    if (fileProperties < 0 || extension < 0) return original;
    const qsizetype extensionEnd = extension + qsizetype(qFromLittleEndian<quint64>(header.constData() + extension + 16));
    header.insert(extensionEnd, library_);
    addTo64(header, 16, library_.size());
    addTo64(header, extension + 16, library_.size());
    const qsizetype dataSize = extension + kExtensionDataSizeField;
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(header.constData() + dataSize) + uint32_t(library_.size()),
                             header.data() + dataSize);
    // The file is longer by as much; 0 (a stream's unknown length) stays 0.
    if (qFromLittleEndian<quint64>(header.constData() + fileProperties + kFileSizeField) != 0)
        addTo64(header, fileProperties + kFileSizeField, library_.size());
    return header;
}

}  // namespace clipwren::soundeditor

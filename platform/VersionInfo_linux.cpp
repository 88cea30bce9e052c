#include "VersionInfo.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QtEndian>

#include <optional>

// Linux programs carry no version resource; the build links in a package-metadata note
// (see cmake/LanfinderPackageNote.cmake) whose JSON "version" plays its part. Everything
// here reads untrusted bytes: every offset and size is checked against the file.

namespace {

constexpr quint32 SHT_NOTE_ = 7;
constexpr quint32 PT_NOTE_ = 4;
constexpr quint32 PackageNoteType = 0xcafe1a7e;
// A package note is a few hundred bytes; a larger note section is not worth reading.
constexpr qint64 MaxNoteBytes = 64 * 1024;

class TElfReader {
public:
    explicit TElfReader(QFile& File) : FFile(File) {}

    bool ReadHeader() {
        const std::optional<QByteArray> Ident = Bytes(0, 16);
        if (!Ident || !Ident->startsWith("\x7f"
                                         "ELF"))
            return false;
        F64 = Ident->at(4) == 2;
        FBigEndian = Ident->at(5) == 2;
        if ((Ident->at(4) != 1 && !F64) || (Ident->at(5) != 1 && !FBigEndian))
            return false;
        return true;
    }

    // The note areas: SHT_NOTE sections, or PT_NOTE segments where the section table
    // has been stripped.
    QList<QByteArray> NoteAreas(QList<int>& Alignments) {
        QList<QByteArray> Areas;
        const quint64 ShOff = Word(F64 ? 0x28 : 0x20);
        const quint64 ShEntSize = Half(F64 ? 0x3A : 0x2E);
        quint64 ShNum = Half(F64 ? 0x3C : 0x30);
        if (ShOff != 0 && ShNum == 0 && ShEntSize != 0)
            ShNum = Word(ShOff + (F64 ? 0x20 : 0x14)); // extended numbering: count in entry 0
        if (ShOff != 0 && ShEntSize >= (F64 ? 0x28u : 0x18u)) {
            for (quint64 i = 0; i < ShNum && i < 0x10000 && FOk; ++i) {
                const quint64 Entry = ShOff + i * ShEntSize;
                if (Word32(Entry + 4) != SHT_NOTE_)
                    continue;
                const quint64 Offset = Word(Entry + (F64 ? 0x18 : 0x10));
                const quint64 Size = Word(Entry + (F64 ? 0x20 : 0x14));
                const quint64 Align = Word(Entry + (F64 ? 0x30 : 0x20));
                AddArea(Areas, Alignments, Offset, Size, Align);
            }
        }
        if (!Areas.isEmpty())
            return Areas;
        // A section table that lies outside the file does not hide the segments.
        FOk = true;
        const quint64 PhOff = Word(F64 ? 0x20 : 0x1C);
        const quint64 PhEntSize = Half(F64 ? 0x36 : 0x2A);
        const quint64 PhNum = Half(F64 ? 0x38 : 0x2C);
        if (PhOff == 0 || PhEntSize < (F64 ? 0x38u : 0x20u))
            return Areas;
        for (quint64 i = 0; i < PhNum && FOk; ++i) {
            const quint64 Entry = PhOff + i * PhEntSize;
            if (Word32(Entry) != PT_NOTE_)
                continue;
            const quint64 Offset = Word(Entry + (F64 ? 0x08 : 0x04));
            const quint64 Size = Word(Entry + (F64 ? 0x20 : 0x10));
            const quint64 Align = F64 ? Word(Entry + 0x30) : Word(Entry + 0x1C);
            AddArea(Areas, Alignments, Offset, Size, Align);
        }
        return Areas;
    }

    quint32 Get32(const char* p) const {
        return FBigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }

private:
    void AddArea(QList<QByteArray>& Areas, QList<int>& Alignments, quint64 Offset, quint64 Size,
                 quint64 Align) {
        if (Size == 0 || Size > quint64(MaxNoteBytes))
            return;
        if (std::optional<QByteArray> Area = Bytes(Offset, qint64(Size))) {
            Areas.append(*Area);
            Alignments.append(Align == 8 ? 8 : 4);
        }
    }

    std::optional<QByteArray> Bytes(quint64 Offset, qint64 Size) {
        if (Offset > quint64(FFile.size()) || !FFile.seek(qint64(Offset)))
            return std::nullopt;
        QByteArray Data = FFile.read(Size);
        if (Data.size() != Size)
            return std::nullopt;
        return Data;
    }

    // A field of the file, or 0 (and the reader marked as failed) when it lies outside.
    quint64 Field(quint64 Offset, int Size) {
        const std::optional<QByteArray> Data = Bytes(Offset, Size);
        if (!Data) {
            FOk = false;
            return 0;
        }
        const char* p = Data->constData();
        switch (Size) {
        case 2:
            return FBigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
        case 4:
            return Get32(p);
        default:
            return FBigEndian ? qFromBigEndian<quint64>(p) : qFromLittleEndian<quint64>(p);
        }
    }
    quint64 Half(quint64 Offset) { return Field(Offset, 2); }
    quint64 Word32(quint64 Offset) { return Field(Offset, 4); }
    // An address-sized field: 8 bytes in a 64-bit file, 4 in a 32-bit one.
    quint64 Word(quint64 Offset) { return Field(Offset, F64 ? 8 : 4); }

    QFile& FFile;
    bool F64 = false;
    bool FBigEndian = false;
    bool FOk = true;
};

quint64 AlignUp(quint64 Value, int Alignment) {
    return (Value + quint64(Alignment) - 1) & ~(quint64(Alignment) - 1);
}

// The payload of the first package note in an area, up to its terminating NUL.
std::optional<QByteArray> FindPackageNote(const TElfReader& Reader, const QByteArray& Area,
                                          int Alignment) {
    const quint64 Size = quint64(Area.size());
    quint64 Pos = 0;
    while (Size - Pos >= 12) {
        const char* Header = Area.constData() + Pos;
        const quint64 NameSize = Reader.Get32(Header);
        const quint64 DescSize = Reader.Get32(Header + 4);
        const quint32 Type = Reader.Get32(Header + 8);
        const quint64 NameAt = Pos + 12;
        const quint64 DescAt = AlignUp(NameAt + NameSize, Alignment);
        if (DescAt > Size || DescSize > Size - DescAt)
            return std::nullopt;
        const QByteArrayView Name(Area.constData() + NameAt, qsizetype(NameSize));
        if (Type == PackageNoteType && Name == QByteArrayView("FDO\0", 4)) {
            QByteArray Desc = Area.mid(qsizetype(DescAt), qsizetype(DescSize));
            const qsizetype Nul = Desc.indexOf('\0');
            if (Nul >= 0)
                Desc.truncate(Nul);
            return Desc;
        }
        Pos = AlignUp(DescAt + DescSize, Alignment);
    }
    return std::nullopt;
}

} // namespace

QString ReadElfPackageVersion(const QString& FileName) {
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        return QString();
    TElfReader Reader(File);
    if (!Reader.ReadHeader())
        return QString();
    QList<int> Alignments;
    const QList<QByteArray> Areas = Reader.NoteAreas(Alignments);
    for (qsizetype i = 0; i < Areas.size(); ++i) {
        const std::optional<QByteArray> Payload = FindPackageNote(Reader, Areas[i], Alignments[i]);
        if (!Payload)
            continue;
        const QJsonDocument Json = QJsonDocument::fromJson(*Payload);
        return Json.object().value(QLatin1String("version")).toString();
    }
    return QString();
}

TVersionInfo::TVersionInfo() {
    Read();
}

void TVersionInfo::SetFilePath(const QString& Value) {
    if (Value == FFilePath)
        return;
    FFilePath = Value;
    Read();
}

void TVersionInfo::Read() {
    FMajorVersion = FMinorVersion = FRelease = FBuild = 0;
    const QString Path = FFilePath.isEmpty() ? QStringLiteral("/proc/self/exe") : FFilePath;
    const QStringList Parts = ReadElfPackageVersion(Path).split(u'.');
    // Up to four decimal numbers of 16 bits; anything else is no usable record at all.
    if (Parts.size() > 4)
        return;
    quint16 Numbers[4] = {};
    for (qsizetype i = 0; i < Parts.size(); ++i) {
        bool Ok = false;
        const uint Number = Parts[i].toUInt(&Ok, 10);
        const bool Decimal =
            !Parts[i].isEmpty() && Parts[i].front().isDigit() && Parts[i].back().isDigit();
        if (!Ok || !Decimal || Number > 0xFFFF)
            return;
        Numbers[i] = quint16(Number);
    }
    FMajorVersion = Numbers[0];
    FMinorVersion = Numbers[1];
    FRelease = Numbers[2];
    FBuild = Numbers[3];
}

#include "Logger.h"

#include "AnsiCodePage.h"
#include "Clock.h"

#include <QLocale>
#include <QSysInfo>
#include <array>

QString LogLevelName(TLogLevel Level) {
    switch (Level) {
    case TLogLevel::Info:
        return QStringLiteral("Info");
    case TLogLevel::Error:
        return QStringLiteral("Error");
    case TLogLevel::Warning:
        return QStringLiteral("Warning");
    case TLogLevel::Debug:
        return QStringLiteral("Debug");
    case TLogLevel::None:
        break;
    }
    return {};
}

QString StripHTML(QStringView Text) {
    if (!Text.contains(QLatin1Char('<')))
        return Text.toString();
    QString S = Text.toString();
    for (const auto Tag : {QLatin1String("<BR>"), QLatin1String("<HR>"), QLatin1String("<BR/>")})
        S.replace(Tag, QLatin1String(" "), Qt::CaseInsensitive);

    QString Result;
    Result.reserve(S.size());
    qsizetype From = 0;
    while (From < S.size()) {
        const qsizetype Open = S.indexOf(QLatin1Char('<'), From);
        const qsizetype Close = Open < 0 ? -1 : S.indexOf(QLatin1Char('>'), Open + 1);
        if (Close < 0) {
            Result.append(QStringView(S).mid(From));
            break;
        }
        Result.append(QStringView(S).mid(From, Open - From));
        From = Close + 1;
    }
    return Result;
}

namespace {

int LeadingNumber(QStringView Part) {
    qsizetype Digits = 0;
    while (Digits < Part.size() && Digits < 9 && Part[Digits].isDigit() &&
           Part[Digits].unicode() < 0x80)
        ++Digits;
    return Digits == 0 ? 0 : Part.left(Digits).toInt();
}

} // namespace

QString SystemInformationText(const QString& ProductName, const QString& KernelRelease,
                              const QString& Architecture) {
    const QStringList Parts = KernelRelease.split(QLatin1Char('.'));
    const auto Number = [&Parts](qsizetype Index) {
        return QString::number(Index < Parts.size() ? LeadingNumber(Parts[Index]) : 0);
    };
    const QString Edition = Architecture == QLatin1String("x86_64")
                                ? QStringLiteral("64-bit Edition")
                                : QStringLiteral("32-bit Edition");
    // One pass over the pattern, so a "%1" in the product name stays literal.
    return QStringLiteral("%1 (Version %2.%3, Build %4, %5)")
        .arg(ProductName, Number(0), Number(1), Number(2), Edition);
}

QString SystemInformationText() {
    return SystemInformationText(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(),
                                 QSysInfo::currentCpuArchitecture());
}

QString MemoryUsageText(quint64 Bytes, const QString& DecimalPoint) {
    static constexpr std::array<const char*, 4> Units = {" KB", " MB", " GB", " TB"};
    const QString Prefix = QStringLiteral("Memory usage: ");
    if (Bytes < 1024)
        return Prefix + QString::number(Bytes) + QStringLiteral(" Bytes");
    double Scaled = static_cast<double>(Bytes);
    std::size_t Divisions = 0;
    while (Scaled >= 1024 && Divisions < Units.size()) {
        Scaled /= 1024;
        ++Divisions;
    }
    QString Number = QString::number(Scaled, 'f', 2);
    Number.replace(QLatin1Char('.'), DecimalPoint);
    return Prefix + Number + QLatin1String(Units[Divisions - 1]);
}

QString TimeStampText(const TLocalDateTime& At) {
    int Year = 0, Month = 0, Day = 0;
    At.Date.getDate(&Year, &Month, &Day);
    if (Year < 0 || Year > 9999 || !At.Time.isValid())
        return At.Date.toString(QStringLiteral("yyyy-MM-dd")) + u' ' +
               At.Time.toString(QStringLiteral("HH:mm:ss"));
    // Written digit by digit: this runs once for every entry of every log.
    QString Text(19, Qt::Uninitialized);
    QChar* Out = Text.data();
    const auto Put = [&Out](int Value, int Digits) {
        for (int i = Digits - 1; i >= 0; --i, Value /= 10)
            Out[i] = QLatin1Char(static_cast<char>('0' + Value % 10));
        Out += Digits;
    };
    const auto Sep = [&Out](char C) { *Out++ = QLatin1Char(C); };
    Put(Year, 4);
    Sep('-');
    Put(Month, 2);
    Sep('-');
    Put(Day, 2);
    Sep(' ');
    Put(At.Time.hour(), 2);
    Sep(':');
    Put(At.Time.minute(), 2);
    Sep(':');
    Put(At.Time.second(), 2);
    return Text;
}

void TLoggerOutputHandler::LogOutput(const TLoggerOutputInformation& Information) {
    const std::lock_guard Guard(FLock);
    if (FActive)
        WriteOutput(Information);
}

void TLoggerDebugOutputHandler::WriteOutput(const TLoggerOutputInformation& Information) {
    if (!DebugOutputEnabled())
        return;
    QString Joined;
    if (Information.Outputs & TLoggerOutput::TimeStamp)
        Joined += Information.TimeStampOutput;
    if (Information.Outputs & TLoggerOutput::LogLevel)
        Joined += Information.LogLevelOutput;
    if (Information.Outputs & TLoggerOutput::Value)
        Joined += Information.ValueOutput;
    DebugOutput(StripHTML(Joined));
}

void TLoggerCSVOutputHandler::WriteOutput(const TLoggerOutputInformation& Information) {
    AppendToLogFile(FFileName, AnsiEncode(GetEntryText(Information)));
}

TLogger::TLogger() {
    RegisterOutputHandler(std::make_unique<TLoggerDebugOutputHandler>());
}

TLogger::~TLogger() = default;

TLoggerOutputHandler*
TLogger::RegisterOutputHandler(std::unique_ptr<TLoggerOutputHandler> Handler) {
    FHandlers.push_back(std::move(Handler));
    return FHandlers.back().get();
}

void TLogger::Log(TLogLevel Level, const QString& Value, const TLocalDateTime& At) {
    TLoggerOutputInformation Information;
    Information.Outputs = FOutputs;
    Information.Level = Level;
    if (FOutputs & TLoggerOutput::TimeStamp)
        Information.TimeStampOutput = TimeStampText(At);
    if (FOutputs & TLoggerOutput::LogLevel)
        Information.LogLevelOutput = LogLevelName(Level);
    if (FOutputs & TLoggerOutput::Value)
        Information.ValueOutput = Value;
    for (const auto& Handler : FHandlers)
        Handler->LogOutput(Information);
}

void TLogger::LogSystemInformation(const TLocalDateTime& At) {
    Log(TLogLevel::None, SystemInformationText(), At);
}

void TLogger::LogMemoryUsage(const TLocalDateTime& At) {
    Log(TLogLevel::None, MemoryUsageText(HeapBytesInUse(), QLocale::system().decimalPoint()), At);
}

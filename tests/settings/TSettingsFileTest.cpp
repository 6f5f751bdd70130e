#include "settings/TSettingsFile.h"
#include "settings/Cp1251Codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Module = QStringLiteral("Модуль KM808");
const QString App = QStringLiteral("Приложение. Общие");

std::unique_ptr<TSettingsFile> FromText(const QString& text) {
    return TSettingsFile::FromBytes(Cp1251::Encode(text));
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

TEST(Cp1251Codec, EncodesCyrillicAndKeepsUndefinedBytes) {
    EXPECT_EQ(Cp1251::Encode(QStringLiteral("Модуль ё№")), QByteArray("\xCC\xEE\xE4\xF3\xEB\xFC \xB8\xB9"));
    EXPECT_EQ(Cp1251::Decode("\xCC\xEE\xE4\xF3\xEB\xFC"), QStringLiteral("Модуль"));
    // 0x98 is the one byte Windows-1251 leaves undefined.
    QByteArray odd("a\x98z\xEF\xBB\xBF");
    EXPECT_EQ(Cp1251::Encode(Cp1251::Decode(odd)), odd);
    EXPECT_EQ(Cp1251::Encode(QStringLiteral("日本")), QByteArray("??"));
}

// One value read from a one-line section.
struct ReadCase {
    const char* name;
    QString lines; // section body, "\n"-separated
    QString section;
    QString key;
    enum Kind { Int, Bool, Real, Text } kind;
    double def;
    QString defText;
    double expected;
    QString expectedText;
};

class ReadTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadTable, ReadsValueOrDefault) {
    const ReadCase& c = GetParam();
    auto f =
        FromText(QStringLiteral("[Модуль KM808]\r\n") + c.lines + QStringLiteral("\r\n[Другое]\r\nx=1\r\n"));
    switch (c.kind) {
    case ReadCase::Int:
        EXPECT_EQ(f->ReadInteger(c.section, c.key, int32_t(c.def)), int32_t(c.expected));
        break;
    case ReadCase::Bool:
        EXPECT_EQ(f->ReadBool(c.section, c.key, c.def != 0), c.expected != 0);
        break;
    case ReadCase::Real:
        EXPECT_EQ(f->ReadFloat(c.section, c.key, c.def), c.expected);
        break;
    case ReadCase::Text:
        EXPECT_EQ(f->ReadString(c.section, c.key, c.defText), c.expectedText);
        break;
    }
}

const QString RateKey = QStringLiteral("АЦП. Индекс частоты работы АЦП");
const QString TimeKey = QStringLiteral("АЦП. Требуемое время сбора данных, с");
const QString MethodKey = QStringLiteral("АЦП. Метод расчёта");
const QString TopKey = QStringLiteral("Top    основной панели");

INSTANTIATE_TEST_SUITE_P(
    Settings, ReadTable,
    ::testing::Values(
        ReadCase{"Hex", "АЦП. Индекс частоты работы АЦП=0x3", Module, RateKey, ReadCase::Int, 6, {}, 3, {}},
        ReadCase{
            "HexUpper", "АЦП. Индекс частоты работы АЦП=0X1f", Module, RateKey, ReadCase::Int, 6, {}, 31, {}},
        ReadCase{"HexAllBits",
                 "АЦП. Индекс частоты работы АЦП=0xFFFFFFFF",
                 Module,
                 RateKey,
                 ReadCase::Int,
                 6,
                 {},
                 -1,
                 {}},
        ReadCase{"HexPrefixOnly",
                 "АЦП. Индекс частоты работы АЦП=0x",
                 Module,
                 RateKey,
                 ReadCase::Int,
                 6,
                 {},
                 6,
                 {}},
        ReadCase{
            "HexSigned", "АЦП. Индекс частоты работы АЦП=0x-3", Module, RateKey, ReadCase::Int, 6, {}, 6, {}},
        ReadCase{"HexTooLong",
                 "АЦП. Индекс частоты работы АЦП=0x100000000",
                 Module,
                 RateKey,
                 ReadCase::Int,
                 6,
                 {},
                 6,
                 {}},
        ReadCase{
            "Negative", "АЦП. Индекс частоты работы АЦП=-1", Module, RateKey, ReadCase::Int, 6, {}, -1, {}},
        ReadCase{"TrailingText",
                 "АЦП. Индекс частоты работы АЦП=12abc",
                 Module,
                 RateKey,
                 ReadCase::Int,
                 6,
                 {},
                 6,
                 {}},
        ReadCase{"Empty", "АЦП. Индекс частоты работы АЦП=", Module, RateKey, ReadCase::Int, 6, {}, 6, {}},
        ReadCase{"Overflow",
                 "АЦП. Индекс частоты работы АЦП=2147483648",
                 Module,
                 RateKey,
                 ReadCase::Int,
                 6,
                 {},
                 6,
                 {}},
        ReadCase{
            "PlusMinus", "АЦП. Индекс частоты работы АЦП=+-2", Module, RateKey, ReadCase::Int, 6, {}, 6, {}},
        ReadCase{
            "BoolTwo", "АЦП. Индекс частоты работы АЦП=2", Module, RateKey, ReadCase::Bool, 0, {}, 1, {}},
        ReadCase{
            "BoolText", "АЦП. Индекс частоты работы АЦП=abc", Module, RateKey, ReadCase::Bool, 0, {}, 0, {}},
        ReadCase{
            "BoolZero", "АЦП. Индекс частоты работы АЦП=0", Module, RateKey, ReadCase::Bool, 1, {}, 0, {}},
        ReadCase{"RealComma",
                 "АЦП. Требуемое время сбора данных, с=0,5",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 1,
                 {}},
        ReadCase{"RealDot",
                 "АЦП. Требуемое время сбора данных, с=0.5",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 0.5,
                 {}},
        ReadCase{"RealPlus",
                 "АЦП. Требуемое время сбора данных, с=+0.5",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 0.5,
                 {}},
        ReadCase{"RealPlusMinus",
                 "АЦП. Требуемое время сбора данных, с=+-0.5",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 1,
                 {}},
        ReadCase{"RealExponent",
                 "АЦП. Требуемое время сбора данных, с=2.5e-1",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 0.25,
                 {}},
        ReadCase{"RealEmpty",
                 "АЦП. Требуемое время сбора данных, с=",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 1,
                 {}},
        ReadCase{"RealNan",
                 "АЦП. Требуемое время сбора данных, с=nan",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 1,
                 {}},
        ReadCase{"RealInf",
                 "АЦП. Требуемое время сбора данных, с=inf",
                 Module,
                 TimeKey,
                 ReadCase::Real,
                 1,
                 {},
                 1,
                 {}},
        ReadCase{"TextMissing", "x=1", Module, MethodKey, ReadCase::Text, 0, "sum", 0, "sum"},
        ReadCase{"TextEmpty", "АЦП. Метод расчёта=", Module, MethodKey, ReadCase::Text, 0, "sum", 0, ""},
        ReadCase{"TextKeepsBlanksAndEquals", "АЦП. Метод расчёта= f=ft ", Module, MethodKey, ReadCase::Text,
                 0, "sum", 0, " f=ft "},
        ReadCase{"NamesIgnoreCase", "ацп. МЕТОД расчЁта=fft", QStringLiteral("модуль km808"), MethodKey,
                 ReadCase::Text, 0, "sum", 0, "fft"},
        ReadCase{"BlanksBeforeEquals",
                 "  Top    основной панели \t=5",
                 Module,
                 TopKey,
                 ReadCase::Int,
                 -1,
                 {},
                 5,
                 {}},
        ReadCase{"InnerBlanksCount", "Top основной панели=5", Module, TopKey, ReadCase::Int, -1, {}, -1, {}},
        ReadCase{"FirstOfTwo", "АЦП. Метод расчёта=fft\nАЦП. Метод расчёта=sum", Module, MethodKey,
                 ReadCase::Text, 0, "x", 0, "fft"},
        ReadCase{"CommentIgnored", ";АЦП. Метод расчёта=fft", Module, MethodKey, ReadCase::Text, 0, "sum", 0,
                 "sum"},
        ReadCase{"OtherSection", "x=1", QStringLiteral("Другое"), MethodKey, ReadCase::Text, 0, "sum", 0,
                 "sum"},
        ReadCase{"MissingSection", "АЦП. Метод расчёта=fft", App, MethodKey, ReadCase::Text, 0, "sum", 0,
                 "sum"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(SettingsFileText, ReadsAnyLineEndsAndWritesCrLf) {
    auto f = TSettingsFile::FromBytes("[a]\nk=1\r\nm=2\r[b]\r\n\r\nn=3");
    EXPECT_EQ(f->ReadInteger("a", "k", 0), 1);
    EXPECT_EQ(f->ReadInteger("a", "m", 0), 2);
    EXPECT_EQ(f->ReadInteger("b", "n", 0), 3);
    EXPECT_EQ(f->ToBytes(), QByteArray("[a]\r\nk=1\r\nm=2\r\n[b]\r\n\r\nn=3\r\n"));
}

TEST(SettingsFileText, WritesInPlaceAndAppendsWhereTheyBelong) {
    auto f = FromText(QStringLiteral("; оператор\r\n[Приложение. Общие]\r\nСохранение настроек=1\r\n"
                                     "Чужой ключ=x\r\n\r\n[Чужая секция]\r\nz = 9\r\n"));
    f->WriteBool(App, QStringLiteral("сохранение НАСТРОЕК"), false);
    f->WriteInteger(App, QStringLiteral("Слот"), -1);
    f->WriteString(QStringLiteral("Чужая секция"), QStringLiteral("z"), QStringLiteral("10"));
    f->WriteFloat(Module, TimeKey, 1.0);
    EXPECT_EQ(Cp1251::Decode(f->ToBytes()),
              QStringLiteral(
                  "; оператор\r\n[Приложение. Общие]\r\nСохранение настроек=0\r\nЧужой ключ=x\r\nСлот=-1\r\n"
                  "\r\n[Чужая секция]\r\nz =10\r\n[Модуль KM808]\r\n"
                  "АЦП. Требуемое время сбора данных, с=1\r\n"));
}

TEST(SettingsFileText, RefusesLinesThatWouldBreakTheFile) {
    auto f = TSettingsFile::FromBytes("[a]\r\n");
    f->WriteString("a", "k", "one\r\n[b]\nx=1");
    f->WriteString("a", "k=x", "1");
    f->WriteString("a", "", "1");
    f->WriteString("a]", "k", "1");
    EXPECT_EQ(f->ToBytes(), QByteArray("[a]\r\nk=one  [b] x=1\r\n"));
}

TEST(SettingsFileText, WritesRealsWithDotWhateverTheLocale) {
    std::setlocale(LC_ALL, "ru_RU.UTF-8");
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    auto f = TSettingsFile::FromBytes({});
    const std::pair<double, const char*> cases[] = {
        {1.0, "1"},     {0.5, "0.5"}, {0.1, "0.1"}, {-2.25, "-2.25"}, {1.0 / 3, "0.333333333333333"},
        {1e-5, "1e-05"}};
    for (auto [value, text] : cases) {
        f->WriteFloat("a", "r", value);
        EXPECT_EQ(f->ReadString("a", "r", {}), QString(text)) << value;
        EXPECT_NEAR(f->ReadFloat("a", "r", 99), value, 1e-14);
    }
    std::setlocale(LC_ALL, "C");
}

class SettingsFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Path = Dir.filePath("Km808_Viza.ini");
    }
    void TearDown() override { chmod(QFile::encodeName(Dir.path()).constData(), 0700); }
    QTemporaryDir Dir;
    QString Path;
    const QByteArray Old = "[a]\r\nk=1\r\n";
};

TEST_F(SettingsFileOnDisk, MissingFileReadsEmptyAndFlushCreatesIt) {
    auto f = TSettingsFile::Open(Path);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->ReadInteger("a", "k", 7), 7);
    f->WriteInteger("a", "k", 2);
    ASSERT_TRUE(f->Flush());
    EXPECT_EQ(ReadAll(Path), QByteArray("[a]\r\nk=2\r\n"));
    EXPECT_EQ(TSettingsFile::Open(Path)->ReadInteger("a", "k", 7), 2);
}

TEST_F(SettingsFileOnDisk, UnusablePathsOpenAsNull) {
    EXPECT_FALSE(TSettingsFile::Open(QString()));
    EXPECT_FALSE(TSettingsFile::Open(Dir.path()));
    if (geteuid() != 0) {
        ASSERT_TRUE(WriteAll(Path, Old));
        chmod(QFile::encodeName(Path).constData(), 0200);
        EXPECT_FALSE(TSettingsFile::Open(Path));
    }
}

TEST_F(SettingsFileOnDisk, ReadOnlyFileRefusesFlushAndStaysWhole) {
    ASSERT_TRUE(WriteAll(Path, Old));
    auto f = TSettingsFile::Open(Path);
    ASSERT_TRUE(f);
    chmod(QFile::encodeName(Path).constData(), 0444);
    f->WriteInteger("a", "k", 2);
    EXPECT_FALSE(f->Flush());
    EXPECT_EQ(ReadAll(Path), Old);
}

TEST_F(SettingsFileOnDisk, UnwritableDirectoryRefusesFlushAndFileStaysWhole) {
    ASSERT_TRUE(WriteAll(Path, Old));
    // The file itself may be written: only the directory refuses.
    chmod(QFile::encodeName(Path).constData(), 0666);
    chmod(QFile::encodeName(Dir.path()).constData(), 0555);
    // Root writes into any directory, so the flush runs as nobody then.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        auto f = TSettingsFile::Open(Path);
        if (!f)
            _exit(3);
        f->WriteInteger("a", "k", 2);
        _exit(f->Flush() ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: flushed, 2: no user to switch to, 3: not readable";
    EXPECT_EQ(ReadAll(Path), Old);
}

TEST_F(SettingsFileOnDisk, MissingDirectoryRefusesFlush) {
    auto f = TSettingsFile::Open(Dir.filePath("gone/Km808_Viza.ini"));
    ASSERT_TRUE(f);
    f->WriteInteger("a", "k", 2);
    EXPECT_FALSE(f->Flush());
}

TEST_F(SettingsFileOnDisk, FlushKeepsUnknownBytesAndPermissions) {
    QByteArray odd("\xEF\xBB\xBF[a]\r\nk=\x98\xFF\r\n");
    ASSERT_TRUE(WriteAll(Path, odd));
    chmod(QFile::encodeName(Path).constData(), 0640);
    auto f = TSettingsFile::Open(Path);
    f->WriteInteger("b", "k", 1);
    ASSERT_TRUE(f->Flush());
    EXPECT_EQ(ReadAll(Path), odd + "[b]\r\nk=1\r\n");
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(Path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// The program writes only its own plain file: a link at the path, wherever
// it points, refuses the flush and both the link and its target stay as
// they were.
TEST_F(SettingsFileOnDisk, LinkAtThePathRefusesFlushAndNothingChanges) {
    const QString target = Dir.filePath("system.conf");
    ASSERT_TRUE(WriteAll(target, "root:x:0:0\n"));
    for (const QString& to : {target, Dir.filePath("nowhere")}) {
        QFile::remove(Path);
        ASSERT_TRUE(QFile::link(to, Path));
        auto f = TSettingsFile::Open(Path);
        ASSERT_TRUE(f);
        f->WriteInteger("a", "k", 2);
        EXPECT_FALSE(f->Flush()) << to.toStdString();
        EXPECT_EQ(QFileInfo(Path).symLinkTarget(), to);
    }
    EXPECT_EQ(ReadAll(target), QByteArray("root:x:0:0\n"));
    EXPECT_FALSE(QFile::exists(Dir.filePath("nowhere")));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2)
        << "a temporary file was left behind";
}

TEST_F(SettingsFileOnDisk, FlushKeepsOwnerGroupAndMode) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give the file to another user";
    ASSERT_TRUE(WriteAll(Path, Old));
    ASSERT_EQ(chown(QFile::encodeName(Path).constData(), 4321, 4322), 0);
    ASSERT_EQ(chmod(QFile::encodeName(Path).constData(), 0604), 0);
    auto f = TSettingsFile::Open(Path);
    f->WriteInteger("a", "k", 2);
    ASSERT_TRUE(f->Flush());
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(Path).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(ReadAll(Path), QByteArray("[a]\r\nk=2\r\n"));
}

// Files the program will not take in, and why: each stays byte for byte.
TEST_F(SettingsFileOnDisk, HostileFilesOpenAsNullWithTheirReason) {
    struct Case {
        const char* name;
        QByteArray bytes;
        TSettingsFile::OpenFailure why;
    };
    const QByteArray utf8Key = QString("[Модуль KM808]\r\nАЦП. Индекс частоты работы АЦП=1\r\n").toUtf8();
    const Case cases[] = {
        {"50 MB of blank lines", QByteArray(50 * 1024 * 1024, '\n'), TSettingsFile::OpenFailure::TooLarge},
        {"one byte over the limit", QByteArray(TSettingsFile::MaxFileBytes + 1, ' '),
         TSettingsFile::OpenFailure::TooLarge},
        {"UTF-8", utf8Key, TSettingsFile::OpenFailure::NotCp1251},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + utf8Key, TSettingsFile::OpenFailure::NotCp1251},
        {"at the limit", QByteArray(TSettingsFile::MaxFileBytes, ' '), TSettingsFile::OpenFailure::None},
        {"Windows-1251", Cp1251::Encode(QString::fromUtf8(utf8Key)), TSettingsFile::OpenFailure::None},
        {"plain ASCII", "[a]\r\nk=1\r\n", TSettingsFile::OpenFailure::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteAll(Path, c.bytes));
        TSettingsFile::OpenFailure why = TSettingsFile::OpenFailure::Unusable;
        auto f = TSettingsFile::Open(Path, &why);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(bool(f), c.why == TSettingsFile::OpenFailure::None);
        EXPECT_EQ(ReadAll(Path), c.bytes);
    }
}

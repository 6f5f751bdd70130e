// The command set without a module: a recording acquisition stands in for
// the engine, blocks are handed in by the test.
#include "scpi/ScpiInstrument.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TRecordedAcquisition : public TScpiAcquisition {
public:
    void Start(const TMeasurementConfig& config, long long run) override {
        Started.push_back(config);
        Run = run;
    }
    void Stop() override { ++Stops; }
    std::vector<TMeasurementConfig> Started;
    long long Run = 0;
    int Stops = 0;
};

TMeasurementConfig FreshConfig() {
    TMeasurementConfig c;
    for (int n = 0; n < 16; ++n)
        c.Channels.Active[n] = true;
    c.Channels.RateIndex = 6;
    c.Settings.AcquisitionTime = 1.0;
    c.Settings.ComputationMethod = "sum";
    return c;
}

struct Fixture {
    TRecordedAcquisition Acquisition;
    TScpiInstrument Instrument{Acquisition, {"QR000010", 3, "KM0000301", "1.5"}, FreshConfig()};
    TScpiSession A;
    TScpiSession B;
    Fixture() {
        Instrument.Attach(A);
        Instrument.Attach(B);
    }
    QByteArray Send(TScpiSession& s, const QByteArray& line) { return Instrument.Execute(s, line); }
    // Hands in a block of the running run: channel n reads n volts.
    void Block(unsigned channels, unsigned over = 0) {
        TScpiBlock b;
        b.Channels = channels;
        for (int n = 0; n < 16; ++n) {
            b.Values[n] = n + 1;
            b.OverRange[n] = (over >> n) & 1u;
        }
        Instrument.BlockDone(b, Acquisition.Run);
    }
    QByteArray Error(TScpiSession& s) { return Send(s, "SYST:ERR?"); }
};

struct TLineCase {
    const char* Line;
    const char* Response; // with its '\n'; "" when none
    const char* Error;    // the first error the line leaves, "0" when none
};

// Malformed and hostile lines, and good ones that must stay good.
const TLineCase LineCases[] = {
    {"*IDN?", "KM808_Viza,KM808,KM0000301,1.5\n", "0"},
    {"*idn?", "KM808_Viza,KM808,KM0000301,1.5\n", "0"},
    {"  *IDN?  ", "KM808_Viza,KM808,KM0000301,1.5\n", "0"},
    {"*IDN? 1", "", "-108"},
    {"*FOO?", "", "-113"},
    {"FOO:BAR?", "", "-113"},
    {"SYST:ERRORS?", "", "-113"},
    {"SYSTEM:VERS?", "1999.0\n", "0"},
    {"SYSTE:VERS?", "", "-113"},
    {":syst:vers?", "1999.0\n", "0"},
    {"SYST::VERS?", "", "-102"},
    {"SYST:VERS??", "", "-101"},
    {"SYST:VERS?;*OPC?", "1999.0;1\n", "0"},
    {"SYST:VERS?;;;", "1999.0\n", "0"},
    {"SYST:VERSIONNUMBERX?", "", "-112"},
    {"SYST:VE\x01RS?", "", "-101"},
    {"\xff\xfe", "", "-101"},
    {"ROUT:SCAN (@1:4,7);ROUT:SCAN?", "(@1:4,7)\n", "0"},
    {"ROUT:SCAN (@4:1);ROUT:SCAN?", "(@1:4)\n", "0"},
    {"ROUT:SCAN (@0)", "", "-222"},
    {"ROUT:SCAN (@17)", "", "-222"},
    {"ROUT:SCAN (@99999999999)", "", "-222"},
    {"ROUT:SCAN (@1:)", "", "-102"},
    {"ROUT:SCAN (@)", "", "-102"},
    {"ROUT:SCAN (@1:2:3)", "", "-102"},
    {"ROUT:SCAN (@a)", "", "-102"},
    {"ROUT:SCAN 1", "", "-104"},
    {"ROUT:SCAN (@1", "", "-102"},
    {"ROUT:SCAN (@1))", "", "-102"},
    {"ROUT:SCAN", "", "-109"},
    {"ROUT:SCAN (@1),(@2)", "", "-108"},
    {"ROUT:SCAN \"(@1)", "", "-102"},
    {"CONF:RES (@9)", "", "-222"},
    {"CONF:RES 400,(@1:8);FUNC? (@1,9)", "\"RES\",\"VOLT:DC\"\n", "0"},
    {"CONF:VOLT 11,(@1)", "", "-222"},
    {"CONF:VOLT 1e999,(@1)", "", "-222"},
    {"CONF:VOLT 1,,(@1)", "", "-102"},
    {"CONF:VOLT ten,(@1)", "", "-224"},
    {"CONF:VOLT 0x10,(@1)", "", "-104"},
    {"CONF:VOLT 1e,(@1)", "", "-120"},
    {"CONF:VOLT nan,(@1)", "", "-224"},
    {"CONF:VOLT 1.5,(@2);VOLT:RANG? (@2)", "+2.000000000E+00\n", "0"},
    {"VOLT:DC:RANG MIN,(@2);:SENS:VOLT:RANG? (@2)", "+4.000000000E-01\n", "0"},
    {"RES:RANG 1000,(@1);RES:RANG? (@1)", "+1.200000000E+03\n", "0"},
    {"RES:RANG? (@12)", "", "-222"},
    {"ADC:RATE 100;ADC:RATE?", "+1.000000000E+02\n", "0"},
    {"ADC:RATE 150", "", "-224"},
    {"ADC:RATE 1e6", "", "-222"},
    {"ADC:RATE? MIN", "+5.000000000E+00\n", "0"},
    {"ADC:RATE? 5", "", "-104"},
    {"APER 0.001", "", "-222"},
    {"APER 0.5;APER?", "+5.000000000E-01\n", "0"},
    {"CORR:MODE CONT;CORR:MODE?", "CONT\n", "0"},
    {"CORR:MODE SOMETIMES", "", "-224"},
    {"METH \"fft\";METH?", "FFT\n", "0"},
    {"*ESE 256", "", "-222"},
    {"*ESE 32;*ESE?", "32\n", "0"},
    {"FETC?", "", "-230"},
    {"INIT 1", "", "-108"},
};

TEST(ScpiInstrument, EachLineGetsItsAnswerOrItsError) {
    for (const TLineCase& c : LineCases) {
        Fixture f;
        SCOPED_TRACE(c.Line);
        EXPECT_EQ(f.Send(f.A, c.Line), QByteArray(c.Response));
        EXPECT_TRUE(f.Error(f.A).startsWith(QByteArray(c.Error) + ","));
    }
}

TEST(ScpiInstrument, RelativeHeadersFollowTheCompoundPath) {
    Fixture f;
    EXPECT_EQ(f.Send(f.A, "SENS:VOLT:RANG 2,(@3);RANG? (@3);:SYST:VERS?"), "+2.000000000E+00;1999.0\n");
}

TEST(ScpiInstrument, StatusFollowsIeee4882) {
    Fixture f;
    EXPECT_EQ(f.Send(f.A, "*ESR?"), "128\n"); // power on
    EXPECT_EQ(f.Send(f.A, "*ESR?"), "0\n");
    f.Send(f.A, "FOO");
    f.Send(f.A, "ROUT:SCAN (@17)");
    EXPECT_EQ(f.Send(f.A, "*ESE 48;*STB?"), "36\n"); // error available and event summary
    EXPECT_EQ(f.Send(f.A, "SYST:ERR:COUN?"), "2\n");
    EXPECT_EQ(f.Send(f.A, "*ESR?"), "48\n");                 // command and execution error
    EXPECT_EQ(f.Send(f.B, "SYST:ERR?"), "0,\"No error\"\n"); // queues are per client
    EXPECT_EQ(f.Send(f.A, "*CLS;*STB?"), "0\n");

    // The queue keeps the first errors and marks the overflow last.
    for (int i = 0; i < 30; ++i)
        f.Send(f.A, "FOO");
    EXPECT_EQ(f.Send(f.A, "SYST:ERR:COUN?"), "20\n");
    for (int i = 0; i < 19; ++i)
        EXPECT_TRUE(f.Error(f.A).startsWith("-113,"));
    EXPECT_EQ(f.Error(f.A), "-350,\"Queue overflow\"\n");
}

TEST(ScpiInstrument, ReadWaitsForABlockBegunAfterTheRequest) {
    Fixture f;
    EXPECT_EQ(f.Send(f.A, "CONF:VOLT (@1:3);READ?"), "");
    ASSERT_EQ(f.Acquisition.Started.size(), 1u);
    EXPECT_TRUE(f.A.Waiting());
    f.Block(0x7);
    EXPECT_EQ(f.Instrument.Resume(f.A), "+1.000000000E+00,+2.000000000E+00,+3.000000000E+00\n");
    // The run goes on: the block in progress began before the next READ?.
    EXPECT_EQ(f.Send(f.A, "READ? (@2)"), "");
    f.Block(0x7);
    EXPECT_EQ(f.Instrument.Resume(f.A), "");
    f.Block(0x7);
    EXPECT_EQ(f.Instrument.Resume(f.A), "+2.000000000E+00\n");
    EXPECT_EQ(f.Send(f.A, "FETC? (@3);FETC:OVER?"), "+3.000000000E+00;0,0,0\n");
    EXPECT_EQ(f.Send(f.A, "FETC? (@4)"), "");
    EXPECT_TRUE(f.Error(f.A).startsWith("-221,"));
}

TEST(ScpiInstrument, OverRangeReadsAsNoValue) {
    Fixture f;
    f.Send(f.A, "CONF:VOLT 0.4,(@1:2);INIT");
    f.Block(0x3, 0x2);
    EXPECT_EQ(f.Send(f.A, "FETC?;FETC:OVER?"), "+1.000000000E+00,+9.900000000E+37;0,1\n");
}

TEST(ScpiInstrument, AStoppedRunAnswersWaitingQueriesWithAnError) {
    Fixture f;
    f.Send(f.A, "CONF:VOLT (@1:2);INIT");
    EXPECT_EQ(f.Send(f.B, "FETC?"), ""); // no block yet: waits
    f.Send(f.A, "ABOR");
    EXPECT_EQ(f.Instrument.Resume(f.B), "+9.910000000E+37,+9.910000000E+37\n");
    EXPECT_TRUE(f.Error(f.B).startsWith("-230,"));

    // A failed run: every client hears of it, waiting ones are answered.
    f.Send(f.A, "INIT");
    EXPECT_EQ(f.Send(f.B, "READ?"), "");
    f.Instrument.RunFailed("the measurement failed", f.Acquisition.Run);
    EXPECT_EQ(f.Instrument.Resume(f.B), "+9.910000000E+37,+9.910000000E+37\n");
    EXPECT_TRUE(f.Error(f.A).startsWith("-240,"));
    EXPECT_TRUE(f.Error(f.B).startsWith("-240,"));
    // A block of the old run that was on its way counts for nothing.
    f.Block(0x3);
    EXPECT_EQ(f.Send(f.A, "FETC?"), "");
    EXPECT_TRUE(f.Error(f.A).startsWith("-230,"));
}

TEST(ScpiInstrument, OneClientControlsOthersRead) {
    Fixture f;
    f.Send(f.A, "CONF:VOLT (@1)");
    EXPECT_EQ(f.Send(f.B, "SYST:LOCK:OWN?;SYST:LOCK?"), "OTHER;0\n");
    for (const char* line : {"CONF:VOLT (@2)", "APER 2", "*RST", "INIT", "MEAS:VOLT? (@2)", "ABOR"}) {
        SCOPED_TRACE(line);
        f.Send(f.B, line);
        EXPECT_TRUE(f.Error(f.B).startsWith("-203,"));
    }
    EXPECT_EQ(f.Send(f.B, "ROUT:SCAN?"), "(@1)\n");
    f.Send(f.A, "INIT");
    EXPECT_EQ(f.Send(f.B, "READ?"), ""); // a running run may be read by anyone
    f.Block(0x1);
    f.Block(0x1);
    EXPECT_EQ(f.Instrument.Resume(f.B), "+1.000000000E+00\n");
    // Control passes when the holder lets go or goes away.
    f.Instrument.Detach(f.A);
    EXPECT_EQ(f.Send(f.B, "SYST:LOCK?;SYST:LOCK:OWN?"), "1;SELF\n");
    f.Send(f.B, "SYST:LOCK:REL");
    EXPECT_EQ(f.Send(f.B, "SYST:LOCK:OWN?"), "NONE\n");
}

TEST(ScpiInstrument, RunsMeasureWhatTheSetUpSays) {
    Fixture f;
    f.Send(f.A, "CONF:RES 1200,(@2:3);ADC:RATE 500;APER 0.25;METH FFT;CORR:MODE CONT;INIT");
    ASSERT_EQ(f.Acquisition.Started.size(), 1u);
    const TMeasurementConfig& c = f.Acquisition.Started[0];
    EXPECT_EQ(c.Channels.CommonMode, 1);
    for (int n = 0; n < 16; ++n) {
        EXPECT_EQ(c.Channels.Active[n], n == 1 || n == 2) << n;
        EXPECT_EQ(c.ChannelQuantity[n], c.Channels.Active[n] ? 1 : 0) << n;
    }
    EXPECT_EQ(c.Channels.RangeR[1], 1);
    EXPECT_EQ(c.Channels.RateIndex, 3);
    EXPECT_DOUBLE_EQ(c.Settings.AcquisitionTime, 0.25);
    EXPECT_EQ(c.Settings.ComputationMethod, "fft");
    EXPECT_EQ(c.CorrectionMode, 1);
    // A set-up change stops the run, and its old block is no answer.
    f.Block(0x6);
    f.Send(f.A, "APER 0.5");
    EXPECT_EQ(f.Acquisition.Stops, 1);
    EXPECT_EQ(f.Send(f.A, "FETC?"), "");
    EXPECT_TRUE(f.Error(f.A).startsWith("-230,"));
    // Voltage and resistance in one scan cannot be measured together.
    f.Send(f.A, "ROUT:SCAN (@2:4);INIT");
    EXPECT_TRUE(f.Error(f.A).startsWith("-221,"));
    EXPECT_EQ(f.Acquisition.Started.size(), 1u);
}

} // namespace

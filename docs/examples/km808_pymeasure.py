"""A PyMeasure instrument class for a KM808 module served by km808-scpi.

    from km808_pymeasure import KM808
    adc = KM808("TCPIP::127.0.0.1::5025::SOCKET")
    adc.aperture = 0.1
    print(adc.measure_voltage([1, 2, 3]))

Readings are volts or ohms; a reading over its range is KM808.OVER_RANGE
(9.9e37), one a stopped run could not give is KM808.NOT_A_NUMBER (9.91e37).
"""

from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_set, strict_range


class KM808(Instrument):
    """A KM808 ADC module: 16 voltage channels, resistance on channels 1..8."""

    OVER_RANGE = 9.9e37
    NOT_A_NUMBER = 9.91e37
    VOLTAGE_RANGES = (0.4, 2, 10)
    RESISTANCE_RANGES = (400, 1200, 4000)

    aperture = Instrument.control(
        "APER?", "APER %g", "The acquisition time of a block in seconds (0.01 to 3600).",
        validator=strict_range, values=[0.01, 3600])
    adc_rate = Instrument.control(
        "ADC:RATE?", "ADC:RATE %g", "The converter rate in Hz.",
        validator=strict_discrete_set, values=[5, 100, 200, 500, 1000, 2000, 4000])
    correction = Instrument.control(
        "CORR:MODE?", "CORR:MODE %s", "'initial' (calibration at set-up) or 'continuous' (every block).",
        validator=strict_discrete_set, values={"initial": "INIT", "continuous": "CONT"}, map_values=True)
    method = Instrument.control(
        "METH?", "METH %s", "How a block becomes one value: 'sum' (windowed mean) or 'fft'.",
        validator=strict_discrete_set, values={"sum": "SUM", "fft": "FFT"}, map_values=True)
    block_period = Instrument.measurement("BLOC:PER?", "The measured time between two blocks in seconds.")
    running = Instrument.measurement("INIT:STAT?", "1 while a run goes on.")

    def __init__(self, resource, name="KM808 ADC module", **kwargs):
        kwargs.setdefault("visa_library", "@py")
        kwargs.setdefault("read_termination", "\n")
        kwargs.setdefault("write_termination", "\n")
        kwargs.setdefault("timeout", 10000)
        super().__init__(resource, name, includeSCPI=True, **kwargs)

    @staticmethod
    def channel_list(channels):
        """[1, 2, 7] as the SCPI channel list '(@1,2,7)'."""
        return "(@%s)" % ",".join(str(int(c)) for c in channels)

    def configure_voltage(self, channels, voltage_range=10):
        """Channels measure voltage in the smallest range that holds voltage_range."""
        self.write("CONF:VOLT %g,%s" % (voltage_range, self.channel_list(channels)))

    def configure_resistance(self, channels, resistance_range=4000):
        """Channels (1..8) measure resistance."""
        self.write("CONF:RES %g,%s" % (resistance_range, self.channel_list(channels)))

    def start(self):
        """Starts a free running run."""
        self.write("INIT")

    def abort(self):
        self.write("ABOR")

    def fetch(self, channels=None):
        """The last complete block's readings."""
        return self.values("FETC?" + ("" if channels is None else " " + self.channel_list(channels)))

    def read_block(self, channels=None):
        """The readings of the next block begun after the call (starts a run if none goes on)."""
        return self.values("READ?" + ("" if channels is None else " " + self.channel_list(channels)))

    def over_range(self, channels=None):
        """True per channel whose last reading is over its range."""
        query = "FETC:OVER?" + ("" if channels is None else " " + self.channel_list(channels))
        return [bool(int(v)) for v in self.values(query)]

    def measure_voltage(self, channels, voltage_range=10):
        return self.values("MEAS:VOLT? %g,%s" % (voltage_range, self.channel_list(channels)))

    def measure_resistance(self, channels, resistance_range=4000):
        return self.values("MEAS:RES? %g,%s" % (resistance_range, self.channel_list(channels)))

    def next_error(self):
        """(number, text) of the oldest error in this client's queue; (0, 'No error') when empty."""
        number, text = self.ask("SYST:ERR?").strip().split(",", 1)
        return int(number), text.strip('"')

    def check_errors(self):
        """Every error in this client's queue as (number, text), oldest first; the queue is empty after."""
        errors = []
        while True:
            number, text = self.next_error()
            if number == 0:
                return errors
            errors.append((number, text))

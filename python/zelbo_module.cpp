// The Python module `zelbo`: the engine's headless session as zelbo.Board.
// Every call that waits on the board releases the GIL and has a time-out.
// Calls from several Python threads are made one at a time (a lock taken
// with the GIL released), and waits give up on Ctrl-C within 100 ms, after
// stopping what they waited on.

#include <cmath>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include "campaign/campaign.h"
#include "common/build_info.h"
#include "engine/attached_boards.h"
#include "engine/session.h"
#include "scope/record/recording_format.h"

namespace py = pybind11;
using zelbo::engine::Session;

namespace {

using ms = std::chrono::milliseconds;

ms toMs(double seconds)
{
    if (!(seconds >= 0) || seconds > 86400) throw std::invalid_argument("timeout must be 0 to 86400 seconds");
    return ms(static_cast<long long>(seconds * 1000.0));
}

py::array_t<double> toArray(const std::vector<double>& v)
{
    py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// ---- campaigns ---------------------------------------------------------------

py::object optionalNumber(const std::optional<double>& v) { return v ? py::object(py::float_(*v)) : py::none(); }

py::dict pointDict(const zelbo::campaign::PointRecord& r)
{
    py::dict d;
    d["key"] = r.key;
    d["index"] = r.index;
    d["temperature"] = optionalNumber(r.temperature);
    d["soak"] = r.soak;
    d["mode"] = r.mode;
    d["direction"] = r.direction;
    d["vref"] = r.vref;
    d["mth"] = r.mth;
    d["clk"] = r.clk;
    d["rnf"] = r.rnf;
    d["vdut"] = r.vdut;
    d["tj"] = optionalNumber(r.tj);
    d["air"] = optionalNumber(r.air);
    d["verdict"] = r.verdict;
    py::list ms;
    for (const auto& m : r.measurements) {
        py::dict x;
        x["name"] = m.name;
        x["channel"] = m.channel;
        x["figure"] = m.figure;
        x["unit"] = m.unit;
        x["value"] = optionalNumber(m.value);
        x["sweeps"] = m.sweeps;
        x["low"] = optionalNumber(m.low);
        x["high"] = optionalNumber(m.high);
        x["verdict"] = m.verdict;
        ms.append(x);
    }
    d["measurements"] = ms;
    return d;
}

// Runs a campaign with the GIL released; callbacks and signal checks take it
// back. A Ctrl-C (or an exception from a callback) stops the campaign after
// the point under way, a second Ctrl-C at once; the exception is raised once
// the board is off.
py::dict runCampaign(const std::filesystem::path& plan, std::optional<std::filesystem::path> db, bool resume,
                     std::optional<bool> sim, std::string chamberPort, py::object onPoint, py::object onProgress)
{
    zelbo::campaign::CampaignOptions o;
    o.planPath = plan.string();
    if (db) o.dbPath = db->string();
    o.resume = resume;
    o.sim = sim;
    o.chamberPort = std::move(chamberPort);
#ifdef ZELBO_BUILD_BIN_DIR
    // As Board: from the build tree, its bridge library.
    {
        const zelbo::link::LinkOptions defaults;
        if (!std::filesystem::exists(defaults.programFolder / defaults.libraryName) &&
            std::filesystem::exists(std::filesystem::path(ZELBO_BUILD_BIN_DIR) / defaults.libraryName))
            o.programFolder = ZELBO_BUILD_BIN_DIR;
    }
#endif
    int stops = 0;
    std::unique_ptr<py::error_already_set> pending;
    auto poll = [&] {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
            ++stops;
            if (!pending) pending = std::make_unique<py::error_already_set>();
            else PyErr_Clear();
        }
        return stops;
    };
    o.stopRequested = [&] { return poll() > 0; };
    o.abortPoint = [&] { return poll() > 1; };
    auto call = [&](const py::object& f, auto&& makeArg) {
        if (f.is_none()) return;
        py::gil_scoped_acquire gil;
        if (pending) return;
        try {
            f(makeArg());
        } catch (py::error_already_set& e) {
            pending = std::make_unique<py::error_already_set>(std::move(e));
            ++stops;
        }
    };
    o.pointDone = [&](const zelbo::campaign::PointRecord& r) { call(onPoint, [&] { return pointDict(r); }); };
    o.progress = [&](const zelbo::campaign::Progress& p) {
        call(onProgress, [&] {
            py::dict d;
            d["done"] = p.done;
            d["total"] = p.total;
            d["temperature"] = optionalNumber(p.temperature);
            d["state"] = p.state;
            d["air"] = optionalNumber(p.air);
            d["tj"] = optionalNumber(p.tj);
            d["seconds_left"] = p.secondsLeft < 0 ? py::object(py::none()) : py::object(py::float_(p.secondsLeft));
            return d;
        });
    };
    zelbo::campaign::CampaignRun r;
    {
        py::gil_scoped_release release;
        r = zelbo::campaign::runCampaignFile(o);
    }
    if (pending) throw std::move(*pending);
    using Code = zelbo::campaign::CampaignRun::Code;
    if (r.code == Code::Usage) throw std::invalid_argument(r.error);
    if (r.code == Code::NoBoard) throw zelbo::engine::NoBoardError(r.error);
    if (r.code == Code::Failed && r.summary.total == 0) throw zelbo::engine::SessionError(r.error);
    const auto& s = r.summary;
    py::dict d;
    d["outcome"] = zelbo::campaign::outcomeName(s.outcome);
    d["message"] = s.message;
    d["db"] = r.dbPath;
    d["total"] = s.total;
    d["already_done"] = s.alreadyDone;
    d["measured"] = s.measured;
    d["skipped"] = s.skipped;
    d["passed"] = s.passed;
    d["failed"] = s.failed;
    return d;
}

class Board {
public:
    // Paths as str or any os.PathLike (pathlib.Path).
    Board(std::optional<bool> sim, std::optional<std::filesystem::path> programFolder,
          std::optional<std::filesystem::path> dataFolder, std::optional<std::string> serial)
    {
        zelbo::engine::SessionOptions o;
        o.sim = sim;
        if (serial) {
            if (serial->empty()) throw std::invalid_argument("serial is a serial number or USB path, not empty");
            if (sim && *sim) throw std::invalid_argument("serial chooses a real board: not with sim=True");
            o.sim = false;
            o.usbBoard = *serial;
        }
        // Called by a waiting call with the GIL released: a signal's Python
        // exception is kept and raised when the call has cleaned up.
        o.interrupted = [this] {
            py::gil_scoped_acquire gil;
            if (PyErr_CheckSignals() == 0) return false;
            pendingSignal_ = std::make_unique<py::error_already_set>();
            return true;
        };
        if (dataFolder) o.dataFolder = *dataFolder;
        if (programFolder) o.link.programFolder = *programFolder;
#ifdef ZELBO_BUILD_BIN_DIR
        // Imported from the build tree: its bridge library (an installed
        // module finds the installed one from the interpreter's folder).
        else if (!std::filesystem::exists(o.link.programFolder / o.link.libraryName) &&
                 std::filesystem::exists(std::filesystem::path(ZELBO_BUILD_BIN_DIR) / o.link.libraryName))
            o.link.programFolder = ZELBO_BUILD_BIN_DIR;
#endif
        py::gil_scoped_release release;
        session_ = std::make_unique<Session>(o);
    }

    ~Board()
    {
        py::gil_scoped_release release;
        std::lock_guard lock(mutex_);
        session_.reset();
    }

    void close()
    {
        py::gil_scoped_release release;
        std::lock_guard lock(mutex_);
        session_.reset();
    }

    // Every call on the session: the GIL released, then the board's lock.
    template <class F> auto waiting(F&& f)
    {
        try {
            py::gil_scoped_release release;
            std::lock_guard lock(mutex_);
            if (!session_) throw zelbo::engine::SessionError("The board is closed.");
            return f(*session_);
        } catch (const zelbo::engine::Interrupted&) {
            if (pendingSignal_) {
                const py::error_already_set e = *pendingSignal_;
                pendingSignal_.reset();
                throw e;
            }
            throw;
        }
    }

    py::object capture(double timeout, bool fresh)
    {
        zelbo::engine::Capture c = waiting([&](Session& x) { return x.capture(toMs(timeout), fresh); });
        py::dict d;
        d["t"] = toArray(c.t);
        py::list ch, settings;
        for (const auto& k : c.ch) {
            ch.append(toArray(k.values));
            py::dict s;
            s["source"] = k.source;
            s["unit"] = k.unit;
            s["output"] = k.output;
            s["value_per_div"] = k.valuePerDiv;
            settings.append(s);
        }
        d["ch"] = ch;
        d["settings"] = settings;
        d["sample_period"] = c.samplePeriod;
        d["time_base"] = c.timeBase;
        d["index"] = c.index;
        d["sampling_rate"] = c.samplingRate;
        d["vref"] = c.vref;
        d["mth"] = c.mth;
        d["clk"] = c.clock;
        d["clock_running"] = c.clockRunning;
        d["mode"] = c.mode;
        py::list on;
        for (bool b : c.on) on.append(b);
        d["on"] = on;
        py::list math;
        for (const auto& m : c.math) {
            if (!m) {
                math.append(py::none());
                continue;
            }
            py::dict md;
            md["expression"] = m->expression;
            md["unit"] = m->unit;
            md["values"] = toArray(m->values);
            md["error"] = m->error;
            math.append(md);
        }
        d["math"] = math;
        // A dict with the conversions (zelbo/_capture.py).
        return py::module_::import("zelbo._capture").attr("Capture")(d);
    }

    // The window's measurement strip per channel; NaN where a figure does
    // not apply (no cycle found, a voltage channel's current figures). With
    // `math`, the math channels that are on follow the four channels.
    py::list measure(double timeout, bool math)
    {
        const zelbo::engine::Capture c = waiting([&](Session& x) { return x.measure(toMs(timeout)); });
        py::list out;
        for (std::size_t k = 0; k < c.ch.size(); ++k) {
            py::dict d = figures(c.figures[k], c.index);
            d["source"] = c.ch[k].source;
            d["unit"] = c.ch[k].unit;
            d["output"] = c.ch[k].output;
            out.append(d);
        }
        if (math)
            for (std::size_t m = 0; m < c.math.size(); ++m) {
                if (!c.math[m]) continue;
                py::dict d = figures(c.math[m]->figures, c.index);
                d["source"] = "M" + std::to_string(m + 1);
                d["unit"] = c.math[m]->unit;
                d["expression"] = c.math[m]->expression;
                d["error"] = c.math[m]->error;
                out.append(d);
            }
        return out;
    }

    // The spectrum of one channel ("CH1".."CH4", "M1", "M2") of a fresh sweep.
    py::dict spectrum(const std::string& channel, const std::string& window, double timeout, int maxHarmonic)
    {
        const zelbo::engine::SpectrumResult r =
            waiting([&](Session& x) { return x.spectrum(channel, window, toMs(timeout), maxHarmonic); });
        py::dict d;
        d["channel"] = r.channel;
        d["unit"] = r.unit;
        d["window"] = zelbo::scope::analysis::windowName(r.window);
        d["frequency"] = toArray(r.frequency);
        d["amplitude"] = toArray(r.amplitude);
        d["expected_hz"] = r.expectedHz;
        const auto& h = r.harmonics;
        d["valid"] = h.valid;
        d["reason"] = h.reason;
        const double nan = std::nan("");
        d["fundamental_hz"] = h.valid ? h.fundamentalHz : nan;
        d["thd"] = h.valid ? h.thd : nan;
        d["thd_db"] = h.valid ? h.thdDb() : nan;
        d["harmonics"] = h.amplitude; // [0] the fundamental, [n - 1] harmonic n
        std::vector<double> dbc;
        for (int n = 2; n <= h.harmonicsCounted() + 1; ++n) dbc.push_back(h.levelDbc(n));
        d["harmonics_dbc"] = dbc; // harmonic 2 first
        d["index"] = r.index;
        return d;
    }

private:
    static py::dict figures(const zelbo::scope::Measurement& m, std::uint64_t index)
    {
        py::dict d;
        d["samples"] = m.samples;
        d["min"] = m.min;
        d["max"] = m.max;
        d["p_p"] = m.peakToPeak;
        d["mean"] = m.mean;
        d["rms"] = m.rms;
        d["frequency"] = m.frequencyHz;
        d["period"] = m.periodUs * 1e-6;
        d["ipeak"] = m.peakCurrent;
        d["ipeak_error"] = m.peakErrorPercent;
        d["step_error"] = m.stepErrorPercent;
        d["plateaus"] = m.plateaus;
        d["index"] = index;
        return d;
    }

public:
    py::dict calibrate()
    {
        const zelbo::scope::CalibrationOffsets o = waiting([](Session& x) {
            x.calibrate();
            return x.calibrationOffsets();
        });
        py::dict d;
        d["voltage"] = py::cast(std::vector<double>(o.voltage.begin(), o.voltage.end()));
        d["current"] = py::cast(std::vector<double>(o.current.begin(), o.current.end()));
        d["icc"] = py::cast(std::vector<double>(o.icc.begin(), o.icc.end()));
        return d;
    }

    // A path (str or os.PathLike) is a CSV file as the dynamic window saves
    // it; anything else a list of rows, each a dict of column -> value.
    void runSequence(py::object rows, int cycles, int delayMs)
    {
        zelbo::engine::SequenceOptions so;
        so.cycles = cycles;
        so.repeatDelayMs = delayMs;
        const py::object pathLike = py::module_::import("os").attr("PathLike");
        if (py::isinstance<py::str>(rows) || py::isinstance(rows, pathLike)) {
            const std::string path = py::str(py::module_::import("os").attr("fspath")(rows));
            waiting([&](Session& x) { x.runSequenceFile(path, so); });
            return;
        }
        const zelbo::drive::sequence::SequenceTable table = tableFrom(rows);
        waiting([&](Session& x) { x.runSequence(table, so); });
    }

    py::dict record(const std::filesystem::path& path, double seconds, double maxBytes)
    {
        if (!(maxBytes >= 0) || maxBytes > 1e15) throw std::invalid_argument("max_bytes must be 0 (any size) to 1e15");
        const zelbo::scope::RecordStatus st = waiting(
            [&](Session& x) { return x.record(path, seconds, static_cast<std::uint64_t>(maxBytes)); });
        py::dict d;
        d["path"] = py::module_::import("os").attr("fspath")(path);
        d["sweeps"] = st.sweeps;
        d["bytes"] = st.bytesWritten;
        d["first_sweep"] = st.firstSweep;
        d["last_sweep"] = st.lastSweep;
        d["seconds"] = st.elapsedSeconds;
        return d;
    }

private:
    static zelbo::drive::sequence::SequenceTable tableFrom(const py::object& rows)
    {
        namespace seq = zelbo::drive::sequence;
        static const std::pair<const char*, int> columns[] = {
            {"time", seq::kTime},   {"vref", seq::kVref},     {"mth", seq::kMth},
            {"clk", seq::kClk},     {"ps", seq::kPs},         {"enable", seq::kEnable},
            {"mode0", seq::kMode0}, {"mode1", seq::kMode1},   {"cw", seq::kCw},
            {"cw/ccw", seq::kCw},   {"cwccw", seq::kCw}};
        if (!py::isinstance<py::sequence>(rows))
            throw std::invalid_argument("A sequence is a CSV path or a list of rows (dicts).");
        const py::sequence list = rows.cast<py::sequence>();
        if (list.size() > static_cast<std::size_t>(seq::kRows))
            throw std::invalid_argument("A sequence has at most " + std::to_string(seq::kRows) + " rows, not " +
                                        std::to_string(list.size()) + ".");
        seq::SequenceTable table;
        int r = 0;
        for (const py::handle row : list) {
            if (!py::isinstance<py::dict>(row))
                throw std::invalid_argument("Row " + std::to_string(r + 1) + " is not a dict of column -> value.");
            for (const auto& [key, value] : row.cast<py::dict>()) {
                std::string k = py::str(key);
                for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                int column = -1;
                for (const auto& [name, col] : columns)
                    if (k == name) column = col;
                if (column < 0)
                    throw std::invalid_argument("Row " + std::to_string(r + 1) + ": unknown column \"" +
                                                std::string(py::str(key)) +
                                                "\" (use time, vref, mth, clk, ps, enable, mode0, mode1, cw).");
                std::string text;
                if (py::isinstance<py::bool_>(value)) text = value.cast<bool>() ? "HI" : "LO";
                else text = py::str(value);
                // A number is held to what the board can play, as the session's
                // own setters hold it (the table would clamp 9 V to 3 V, read
                // nan as 0 and send a negative clock).
                if (!py::isinstance<py::bool_>(value) && (py::isinstance<py::float_>(value) || py::isinstance<py::int_>(value))) {
                    const double v = value.cast<double>();
                    std::string why;
                    if (column == seq::kVref) why = zelbo::drive::rangeError(zelbo::drive::ColumnId::Vref, v);
                    else if (column == seq::kMth) why = zelbo::drive::rangeError(zelbo::drive::ColumnId::Mth, v);
                    else if (column == seq::kClk && !(v >= 0 && v <= zelbo::drive::columnSpec(zelbo::drive::ColumnId::Clk).absoluteMax))
                        why = "CLK " + text + " Hz is out of range (0 to 100000 Hz).";
                    else if (column == seq::kTime && !(v >= 0 && std::isfinite(v)))
                        why = "time " + text + " ms is not a time.";
                    if (!why.empty()) throw std::invalid_argument("Row " + std::to_string(r + 1) + ": " + why);
                }
                table.setCell(r, column, text);
            }
            ++r;
        }
        if (table.usedRows() < r)
            throw std::invalid_argument("Row " + std::to_string(table.usedRows() + 1) + " has no time.");
        return table;
    }

    std::mutex mutex_; // one call on the session at a time
    std::unique_ptr<Session> session_;
    std::unique_ptr<py::error_already_set> pendingSignal_;
};

// A recording file's sweeps from record `first`, at most `count` (all when
// negative): the header's JSON text, the channel mask, the sweep indices,
// sample periods (s) and a sweeps x 4 x samples array, NaN where a channel
// was not recorded or not converted in that sweep.
py::tuple readRecording(const std::filesystem::path& path, long long first, long long count)
{
    namespace rec = zelbo::scope::recording;
    if (first < 0) throw std::invalid_argument("first must not be negative");
    rec::Header header;
    std::string error;
    std::vector<std::uint64_t> index;
    std::vector<double> period, values;
    bool ok = false;
    {
        py::gil_scoped_release release;
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        ok = rec::readFile(
            path.string(), header,
            [&](const rec::Sweep& s) {
                if (count >= 0 && static_cast<long long>(index.size()) >= count) return false;
                if (index.empty() && !ec && size > header.dataOffset) {
                    // As many records as the file holds, or asked for.
                    std::uint64_t n = (size - header.dataOffset) / header.recordBytes;
                    n = n > static_cast<std::uint64_t>(first) ? n - static_cast<std::uint64_t>(first) : 0;
                    if (count >= 0) n = std::min<std::uint64_t>(n, static_cast<std::uint64_t>(count));
                    values.reserve(static_cast<std::size_t>(n) * zelbo::scope::kChannels * header.samples);
                }
                index.push_back(s.index);
                period.push_back(s.periodUs * 1e-6);
                for (std::size_t k = 0; k < zelbo::scope::kChannels; ++k) {
                    if (s.values[k].size() == header.samples) values.insert(values.end(), s.values[k].begin(), s.values[k].end());
                    else values.insert(values.end(), header.samples, std::nan(""));
                }
                return true;
            },
            &error, static_cast<std::uint64_t>(first));
    }
    if (!ok) throw zelbo::engine::SessionError("\"" + path.string() + "\" cannot be read: " + error + ".");
    const auto n = static_cast<py::ssize_t>(index.size());
    py::array_t<std::uint64_t> idx(n);
    std::copy(index.begin(), index.end(), idx.mutable_data());
    py::array_t<double> per(n);
    std::copy(period.begin(), period.end(), per.mutable_data());
    py::array_t<double> data({n, static_cast<py::ssize_t>(zelbo::scope::kChannels), static_cast<py::ssize_t>(header.samples)});
    std::copy(values.begin(), values.end(), data.mutable_data());
    return py::make_tuple(py::bytes(header.json), header.mask, header.samples, idx, per, data);
}

} // namespace

PYBIND11_MODULE(_zelbo, m)
{
    m.doc() = "The Zelbo evaluation board from Python.";
    m.attr("__version__") = zelbo::build::kVersion;
    // NumPy's C interface is set up now, while one thread imports: set up
    // lazily by the first capture, two threads capturing at once would each
    // hold what the other waits for (the GIL, the set-up's guard).
    py::module_::import("numpy");
    (void)py::array_t<double>(0);
    static py::exception<zelbo::engine::SessionError> boardError(m, "BoardError", PyExc_RuntimeError);
    static py::exception<zelbo::engine::NoBoardError> noBoard(m, "NoBoardError", boardError.ptr());
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const zelbo::engine::NoBoardError& e) {
            noBoard(e.what());
        } catch (const zelbo::engine::SessionError& e) {
            boardError(e.what());
        }
    });

    m.def("_run_campaign", &runCampaign, py::arg("plan"), py::arg("db"), py::arg("resume"), py::arg("sim"),
          py::arg("chamber_port"), py::arg("on_point"), py::arg("on_progress"),
          "The engine of zelbo.Campaign (see there).");
    m.def("_read_recording", &readRecording, py::arg("path"), py::arg("first") = 0, py::arg("count") = -1,
          "(json bytes, mask, samples, index, sample_period, data): see zelbo.open_recording.");

    m.def(
        "list_boards",
        [] {
            py::list out;
            for (const auto& b : zelbo::engine::attachedBoards())
                out.append(py::dict(py::arg("path") = b.path, py::arg("serial") = b.serial, py::arg("id") = b.id,
                                    py::arg("node") = b.node));
            return out;
        },
        "The evaluation boards attached to this computer's USB ports, in bus and port order, each a dict:\n"
        "'path' (the USB path, bus then ports: '1-4.2'), 'serial' ('' when the board reports none), 'id'\n"
        "('04b4:8613', or '04b4:1002' before its firmware) and 'node' (/dev/bus/usb/BBB/DDD). Nothing is\n"
        "opened: boards that other processes drive are listed too. Board(serial=...) opens one of them.");

    py::class_<Board>(m, "Board")
        .def(py::init<std::optional<bool>, std::optional<std::filesystem::path>, std::optional<std::filesystem::path>,
                      std::optional<std::string>>(),
             py::arg("sim") = py::none(), py::arg("program_folder") = py::none(), py::arg("data_folder") = py::none(),
             py::arg("serial") = py::none(),
             "Opens the simulated board (sim=True), a real one (sim=False) or, with sim=None, the one the\n"
             "environment variable ZELBO_BOARD names; raises NoBoardError. One board per process: a second\n"
             "Board while one is open raises BoardError at once and leaves the first alone.\n"
             "serial: the real board with this serial number or USB path (list_boards() names them); one\n"
             "not attached raises NoBoardError naming the boards that are. Without it, ZELBO_USB_BOARD\n"
             "decides, else the first board in bus and port order. Several boards: one process each.\n"
             "data_folder: where init.clb is read and written (default the program's data folder).")
        .def("close", &Board::close, "Powers off when on and shuts the board down.")
        .def("__enter__", [](Board& b) -> Board& { return b; }, "The board itself (closed at the end of the with block).")
        .def("__repr__",
             [](Board& b) {
                 try {
                     return b.waiting([](Session& s) {
                         const std::string where =
                             s.usbPath().empty() ? "" : " " + s.usbPath() + (s.serial().empty() ? "" : " " + s.serial());
                         return "<zelbo.Board " + s.board() + where + (s.poweredOn() ? ", powered" : ", off") +
                                (s.running() ? ", clock running>" : ">");
                     });
                 } catch (const zelbo::engine::SessionError&) {
                     return std::string("<zelbo.Board closed>");
                 }
             })
        .def("__exit__", [](Board& b, py::object, py::object, py::object) { b.close(); },
             "Closes the board: powered off and shut down.")
        .def("power_on", [](Board& b, bool clock) { b.waiting([clock](Session& s) { s.powerOn(clock); }); },
             py::arg("clock") = true,
             "The power switch's sequence: supply, pins, oscilloscope and (clock=True, as the window) the step clock.")
        .def("set_duty", [](Board& b, double d) { return b.waiting([d](Session& s) { return s.setDuty(d); }); },
             py::arg("percent"), "Step-clock duty, 1 to 100 %; returns the whole percent the generator takes.")
        .def("set_stop_level",
             [](Board& b, const std::string& level) {
                 if (level != "L" && level != "H") throw std::invalid_argument("stop level is 'L' or 'H'");
                 b.waiting([&](Session& s) { s.setStopHigh(level == "H"); });
             },
             py::arg("level"), "The level ('L' or 'H') the clock rests at after a counted run.")
        .def("power_off", [](Board& b) { b.waiting([](Session& s) { s.powerOff(); }); },
             "The power switch's off sequence: the clock stops, the supply goes off.")
        .def_property_readonly("powered", [](Board& b) { return b.waiting([](Session& s) { return s.poweredOn(); }); },
             "True while the board's DUT supply is on.")
        .def_property_readonly("board", [](Board& b) { return b.waiting([](Session& s) { return s.board(); }); },
             "Which board is open: 'sim' or 'usb'.")
        .def_property_readonly("usb_path",
             [](Board& b) { return b.waiting([](Session& s) { return s.usbPath(); }); },
             "A real board's USB path, bus then ports ('1-4.2'); '' for the simulated board.")
        .def_property_readonly("serial", [](Board& b) { return b.waiting([](Session& s) { return s.serial(); }); },
             "A real board's serial number ('' for the simulated board or a board that reports none).")
        .def("set_vdut", [](Board& b, double v) { b.waiting([v](Session& s) { s.setVdut(v); }); }, py::arg("volts"),
             "The DUT supply: 3.3 or 5.0 V (applied at once when powered).")
        .def("set_pin", [](Board& b, const std::string& n, bool h) { b.waiting([&](Session& s) { s.setPin(n, h); }); },
             py::arg("name"), py::arg("high"), "One pin: 'ps', 'enable', 'mode0', 'mode1' or 'cw'; high True or False.")
        .def("set_vref", [](Board& b, double v) { return b.waiting([v](Session& s) { return s.setVref(v); }); },
             py::arg("volts"), "VREF, 0 to 3 V, as the DAC makes it (whole mV); returns the volts applied.")
        .def("set_mth", [](Board& b, double v) { return b.waiting([v](Session& s) { return s.setMth(v); }); },
             py::arg("volts"), "MTH, 0 to 3.5 V, as the DAC makes it (whole mV); returns the volts applied.")
        .def_property_readonly("vref", [](Board& b) { return b.waiting([](Session& s) { return s.vref(); }); },
             "VREF applied, V.")
        .def_property_readonly("mth", [](Board& b) { return b.waiting([](Session& s) { return s.mth(); }); },
             "MTH applied, V.")
        .def_property_readonly("clock", [](Board& b) { return b.waiting([](Session& s) { return s.clock(); }); },
             "The step clock the generator makes, Hz.")
        .def("set_rnf", [](Board& b, double v) { b.waiting([v](Session& s) { s.setRnf(v); }); }, py::arg("ohms"),
             "The sense resistor, 0.01 to 1 ohm (sets Io = VREF / 5 / RNF for the measurements).")
        .def("set_mode", [](Board& b, const std::string& n) { b.waiting([&](Session& s) { s.setMode(n); }); },
             py::arg("name"), "The excitation: 'full', 'half-a', 'half-b' or 'quarter' (the MODE0/MODE1 pins).")
        .def("set_source",
             [](Board& b, int channel, const std::string& source, int output) {
                 b.waiting([&](Session& s) { s.setSource(channel, source, output); });
             },
             py::arg("channel"), py::arg("source"), py::arg("output") = 0,
             "Channel 0..3 probes 'V' (its output), 'I' (coil current, output 0 = A, 1 = B) or 'ICC'.")
        .def_property_readonly("chips", [](Board& b) { return b.waiting([](Session& s) { return s.chipNames(); }); },
             "The chip names of the chip list for the drive mode (the data folder's TQ5170x.chip).")
        .def("select_chip",
             [](Board& b, const std::string& n) { return b.waiting([&](Session& s) { return s.selectChip(n); }); },
             py::arg("name"), "Chooses the chip whose A and B convert Tj; returns its name.")
        .def("set_time_base",
             [](Board& b, const std::string& t) { return b.waiting([&](Session& s) { return s.setTimeBase(t); }); },
             py::arg("text"), "SEC/DIV as the window lists it, '500 ns' .. '50 ms' ('us' for µs); returns the text applied.")
        .def("set_sampling_rate",
             [](Board& b, const std::string& t) { return b.waiting([&](Session& s) { return s.setSamplingRate(t); }); },
             py::arg("text"), "'2.5 kHz' .. '10 MHz' as the window lists it; returns the text applied.")
        .def("set_channel",
             [](Board& b, int ch, bool on) { b.waiting([&](Session& s) { s.setChannelOn(ch, on); }); },
             py::arg("channel"), py::arg("on"), "Shows (acquires) channel 0..3 or hides it.")
        .def("set_scale",
             [](Board& b, int ch, const std::string& t) { return b.waiting([&](Session& s) { return s.setScale(ch, t); }); },
             py::arg("channel"), py::arg("text"),
             "Value/div of channel 0..3 in its unit: '100 mV' .. '50 V' or '100 mA' .. '10 A'; returns the text applied.")
        .def("set_trigger",
             [](Board& b, int ch, double level, const std::string& slope, bool on) {
                 if (slope != "+" && slope != "-") throw std::invalid_argument("slope is '+' or '-'");
                 return b.waiting([&](Session& s) { return s.setTrigger(on, ch, level, slope == "-"); });
             },
             py::arg("channel") = 0, py::arg("level") = 0.0, py::arg("slope") = "+", py::arg("on") = true,
             "The trigger on channel 0..3 at `level` in its unit (V within +-36, A within +-6), slope '+' or '-';\n"
             "on=False turns it off. Returns the level applied.")
        .def("set_trigger_mode",
             [](Board& b, const std::string& m) { return b.waiting([&](Session& s) { return s.setTriggerMode(m); }); },
             py::arg("mode"),
             "'auto', 'normal' or 'single'; returns the mode's name. Single: the next capture (or Run) takes one\n"
             "sweep and the oscilloscope stops by itself.")
        .def("set_holdoff",
             [](Board& b, double ms) { return b.waiting([&](Session& s) { return s.setHoldoff(ms); }); },
             py::arg("ms"), "Time after each sweep before the trigger is armed again, 0..10000 ms; returns it.")
        .def("trigger_state",
             [](Board& b) { return b.waiting([](Session& s) { return s.triggerState(); }); },
             "What the acquisition does: 'Stop', 'Wait' (holdoff), 'Armed', \"Trig'd\", 'Auto' or 'Run' (trigger off).")
        .def("status",
             [](Board& b) {
                 const auto st = b.waiting([](Session& s) { return s.status(); });
                 py::dict d;
                 for (const auto& [k, v] : st) d[py::str(k)] = v;
                 return d;
             },
             "Every setting read back, as the texts zelbo-cli's status prints (name -> str).")
        .def("run",
             [](Board& b, double freq, std::optional<long long> steps) {
                 return b.waiting([&](Session& s) { return s.run(freq, steps); });
             },
             py::arg("freq"), py::arg("steps") = py::none(),
             "The step clock, 0.01 Hz to 100 kHz, continuous or a counted run of `steps` (1 to 1e9; above 255\n"
             "the board's runs of 255 are chained by wait_run). Returns the frequency the generator makes,\n"
             "40 MHz / (N + 1) with N = trunc(40 MHz / freq - 1).")
        .def("wait_run", [](Board& b, double timeout) { return b.waiting([&](Session& s) { return s.waitRun(toMs(timeout)); }); },
             py::arg("timeout") = 10.0, "Waits for a counted run (every chained part) to end; False on time-out.\n"
             "Ctrl-C stops the clock and raises KeyboardInterrupt.")
        .def("stop", [](Board& b) { b.waiting([](Session& s) { s.stop(); }); },
             "Stops the step clock (and the rest of a counted run).")
        .def_property_readonly("running", [](Board& b) { return b.waiting([](Session& s) { return s.running(); }); },
             "True while the step clock runs (a chained counted run until its last part ends).")
        .def("load_settings", [](Board& b, const std::filesystem::path& p) { b.waiting([&](Session& s) { s.loadSettings(p); }); },
             py::arg("path"), "Loads a settings file (.set, str or os.PathLike) and applies it as the window does.")
        .def("save_settings", [](Board& b, const std::filesystem::path& p) { b.waiting([&](Session& s) { s.saveSettings(p); }); },
             py::arg("path"), "Saves the settings (the values applied) to a .set file, written atomically.")
        .def("tj", [](Board& b, double timeout) { return b.waiting([&](Session& s) { return s.tj(toMs(timeout)); }); },
             py::arg("timeout") = 3.0, "Junction temperature in degrees Celsius.")
        .def("capture", &Board::capture, py::arg("timeout") = 5.0, py::arg("fresh") = true,
             "A sweep as a zelbo.Capture (a dict): 't' (s), 'ch': four arrays in V or A, 'settings' per channel,\n"
             "'sample_period' (s), 'time_base', 'sampling_rate', 'index', and the settings it was taken with:\n"
             "'vref', 'mth' (V), 'clk' (Hz), 'clock_running', 'mode', 'on'; 'math': M1 and M2, each None or\n"
             "{'expression', 'unit', 'values', 'error'}. to_array() gives 4 x N,\n"
             "to_dataframe() a pandas DataFrame. fresh=True: one armed after the call; False: the next one not\n"
             "yet returned (streaming). timeout 0 to 86400 s.")
        .def("measure", &Board::measure, py::arg("timeout") = 5.0, py::arg("math") = false,
             "The figures the window's measurement strip shows for a fresh sweep, one dict per channel:\n"
             "samples, min, max, p_p, mean, rms (V or A), frequency (Hz), period (s); for a coil current\n"
             "ipeak (A), ipeak_error (% of the set Io), step_error (worst plateau, % of Io), plateaus.\n"
             "NaN where a figure does not apply. math=True appends the math channels that are on\n"
             "(source 'M1'/'M2', their unit and expression). Needs power.")
        .def("set_math",
             [](Board& b, int index, const std::string& e) {
                 return b.waiting([&](Session& s) { return s.setMath(index, e); });
             },
             py::arg("index"), py::arg("expression"),
             "Math channel 0 (M1) or 1 (M2): an expression over CH1..CH4 and constants, e.g. 'CH1 * CH3'\n"
             "(W), 'CH2 / 0.2 ohm' (A), '(CH1 - CH2) * 0.5 + 1' (V); '' turns it off. Returns the unit;\n"
             "a refused expression raises ValueError with the reason. capture() carries them under 'math'.")
        .def_property_readonly("math",
             [](Board& b) {
                 return b.waiting([](Session& s) {
                     std::vector<std::string> v;
                     for (const auto& m : s.mathSetups()) v.push_back(m.on ? m.expression : std::string());
                     return v;
                 });
             },
             "The math channels' expressions, M1 and M2 ('' when off).")
        .def("spectrum", &Board::spectrum, py::arg("channel") = "CH1", py::arg("window") = "hann",
             py::arg("timeout") = 5.0, py::arg("max_harmonic") = 40,
             "The spectrum of 'CH1'..'CH4', 'M1' or 'M2' in a fresh sweep, window 'hann', 'flat-top' or\n"
             "'rectangular': {'frequency' (Hz), 'amplitude' (peak, in 'unit') arrays, 'fundamental_hz', 'thd'\n"
             "(ratio), 'thd_db', 'harmonics' (amplitudes, fundamental first), 'harmonics_dbc' (2nd first),\n"
             "'expected_hz' (a coil current's electrical frequency: step clock / steps per cycle), 'valid',\n"
             "'reason'}.")
        .def("calibrate", &Board::calibrate,
             "Oscilloscope offset calibration (about a second); the offsets take effect and go to init.clb.\n"
             "Returns {'voltage', 'current', 'icc'}: four offsets each.")
        .def("run_sequence", &Board::runSequence, py::arg("rows"), py::arg("cycles") = 1, py::arg("delay_ms") = 0,
             "A dynamic sequence: a CSV path, or a list of dicts with the keys time (ms, increasing), vref, mth,\n"
             "clk (Hz), ps, enable, mode0, mode1, cw (True/False, 1/0 or 'HI'/'LO'). cycles 1..99, 0 endless;\n"
             "delay_ms 0..60000 between cycles. Needs power.")
        .def("wait_sequence",
             [](Board& b, double timeout) { return b.waiting([&](Session& s) { return s.waitSequence(toMs(timeout)); }); },
             py::arg("timeout") = 60.0, "Waits for the sequence to end; False on time-out or when it is endless.\n"
             "Ctrl-C stops the sequence (settings put back) and raises KeyboardInterrupt.")
        .def("stop_sequence", [](Board& b) { b.waiting([](Session& s) { s.stopSequence(); }); },
             "Stops a running sequence; the session's settings are put back.")
        .def_property_readonly("sequence_running",
                               [](Board& b) { return b.waiting([](Session& s) { return s.sequenceRunning(); }); },
             "True while the board plays a dynamic sequence.")
        .def("record", &Board::record, py::arg("path"), py::arg("seconds"), py::arg("max_bytes") = 0,
             "Records every sweep of the shown channels into a .zrec file (the window's format) for `seconds`\n"
             "(0.1 to 86400 s), or until the file would pass max_bytes (0: any size); waits for the end and\n"
             "returns {'path', 'sweeps', 'bytes', 'first_sweep', 'last_sweep', 'seconds'}. Needs power.\n"
             "Ctrl-C ends the file whole, then raises KeyboardInterrupt. Read it with zelbo.open_recording().")
        .def("set_output",
             [](Board& b, int channel, py::object output) {
                 int o = -1;
                 if (py::isinstance<py::str>(output)) {
                     const std::string t = output.cast<std::string>();
                     o = t == "A" ? 0 : t == "B" ? 1 : -1;
                 } else if (py::isinstance<py::int_>(output) && !py::isinstance<py::bool_>(output)) {
                     o = output.cast<int>();
                 }
                 if (o != 0 && o != 1) throw std::invalid_argument("output is 'A' (0) or 'B' (1)");
                 return b.waiting([&](Session& s) { return s.setOutput(channel, o); });
             },
             py::arg("channel"), py::arg("output"),
             "The output a coil-current channel 0..3 probes: 'A' (0) or 'B' (1), as the window's output\n"
             "selection; refused for a voltage or ICC channel (fixed output). Returns its name, e.g. 'OUT2B'.")
        .def_property_readonly("counted_steps",
                               [](Board& b) { return b.waiting([](Session& s) { return s.countedSteps(); }); },
             "The board reports no step position. This is the steps of counted runs that ran to their end\n"
             "since the board was opened (chained parts included); continuous runs, stopped runs and\n"
             "sequences are not in it, nor is the direction.")
        .def_property_readonly("sweeps_converted",
                               [](Board& b) { return b.waiting([](Session& s) { return s.sweepsConverted(); }); },
             "Sweeps the oscilloscope core has converted (what a window would draw).");
}

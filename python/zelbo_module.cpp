// The Python module `zelbo`: the engine's headless session as zelbo.Board.
// Every call that waits on the board releases the GIL and has a time-out.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "engine/session.h"

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

class Board {
public:
    Board(bool sim, std::optional<std::string> programFolder)
    {
        zelbo::engine::SessionOptions o;
        o.sim = sim;
        if (programFolder) o.link.programFolder = *programFolder;
#ifdef ZELBO_BUILD_BIN_DIR
        else if (!std::filesystem::exists(o.link.programFolder / o.link.libraryName))
            o.link.programFolder = ZELBO_BUILD_BIN_DIR;
#endif
        py::gil_scoped_release release;
        session_ = std::make_unique<Session>(o);
    }

    Session& s()
    {
        if (!session_) throw zelbo::engine::SessionError("The board is closed.");
        return *session_;
    }

    void close()
    {
        if (!session_) return;
        py::gil_scoped_release release;
        session_.reset();
    }

    template <class F> auto waiting(F&& f)
    {
        Session& session = s();
        py::gil_scoped_release release;
        return f(session);
    }

    py::dict capture(double timeout, bool fresh)
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
        return d;
    }

private:
    std::unique_ptr<Session> session_;
};

} // namespace

PYBIND11_MODULE(zelbo, m)
{
    m.doc() = "The Zelbo evaluation board from Python.";
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

    py::class_<Board>(m, "Board")
        .def(py::init<bool, std::optional<std::string>>(), py::arg("sim") = false, py::arg("program_folder") = py::none(),
             "Opens the simulated board (sim=True) or a real one; raises NoBoardError.")
        .def("close", &Board::close, "Powers off when on and shuts the board down.")
        .def("__enter__", [](Board& b) -> Board& { return b; })
        .def("__exit__", [](Board& b, py::object, py::object, py::object) { b.close(); })
        .def("power_on", [](Board& b) { b.waiting([](Session& s) { s.powerOn(); }); })
        .def("power_off", [](Board& b) { b.waiting([](Session& s) { s.powerOff(); }); })
        .def_property_readonly("powered", [](Board& b) { return b.s().poweredOn(); })
        .def("set_vdut", [](Board& b, double v) { b.waiting([v](Session& s) { s.setVdut(v); }); }, py::arg("volts"))
        .def("set_pin", [](Board& b, const std::string& n, bool h) { b.waiting([&](Session& s) { s.setPin(n, h); }); },
             py::arg("name"), py::arg("high"))
        .def("set_vref", [](Board& b, double v) { b.waiting([v](Session& s) { s.setVref(v); }); }, py::arg("volts"))
        .def("set_mth", [](Board& b, double v) { b.waiting([v](Session& s) { s.setMth(v); }); }, py::arg("volts"))
        .def("set_rnf", [](Board& b, double v) { b.waiting([v](Session& s) { s.setRnf(v); }); }, py::arg("ohms"))
        .def("set_mode", [](Board& b, const std::string& n) { b.waiting([&](Session& s) { s.setMode(n); }); },
             py::arg("name"))
        .def("set_source",
             [](Board& b, int channel, const std::string& source, int output) {
                 b.waiting([&](Session& s) { s.setSource(channel, source, output); });
             },
             py::arg("channel"), py::arg("source"), py::arg("output") = 0,
             "Channel 0..3 probes 'V' (its output), 'I' (coil current, output 0 = A, 1 = B) or 'ICC'.")
        .def("run",
             [](Board& b, double freq, std::optional<int> steps) {
                 b.waiting([&](Session& s) { s.run(freq, steps); });
             },
             py::arg("freq"), py::arg("steps") = py::none(), "Continuous, or a counted run of 1..255 steps.")
        .def("wait_run", [](Board& b, double timeout) { return b.waiting([&](Session& s) { return s.waitRun(toMs(timeout)); }); },
             py::arg("timeout") = 10.0, "Waits for a counted run to end; False on time-out.")
        .def("stop", [](Board& b) { b.waiting([](Session& s) { s.stop(); }); })
        .def_property_readonly("running", [](Board& b) { return b.s().running(); })
        .def("load_settings", [](Board& b, const std::string& p) { b.waiting([&](Session& s) { s.loadSettings(p); }); },
             py::arg("path"))
        .def("save_settings", [](Board& b, const std::string& p) { b.waiting([&](Session& s) { s.saveSettings(p); }); },
             py::arg("path"))
        .def("tj", [](Board& b, double timeout) { return b.waiting([&](Session& s) { return s.tj(toMs(timeout)); }); },
             py::arg("timeout") = 3.0, "Junction temperature in degrees Celsius.")
        .def("capture", &Board::capture, py::arg("timeout") = 5.0, py::arg("fresh") = true,
             "A sweep: {'t', 'ch': four arrays in V or A, 'settings', 'sample_period', 'time_base', 'index'}.\n"
             "fresh=True: one armed after the call; False: the next one not yet returned (streaming).")
        .def_property_readonly("sweeps_converted", [](Board& b) { return b.s().sweepsConverted(); },
             "Sweeps the oscilloscope core has converted (what a window would draw).");
}

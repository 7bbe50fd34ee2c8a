#include "campaign/campaign.h"

#include <filesystem>

#include <cstdlib>
#include <cstring>

#include "campaign/sim_chamber.h"
#include "common/build_info.h"
#include "engine/session.h"

namespace zelbo::campaign {

std::string defaultDatabase(const std::string& planPath)
{
    return std::filesystem::path(planPath).stem().string() + ".sqlite";
}

CampaignRun runCampaignFile(const CampaignOptions& o)
{
    CampaignRun out;
    auto refuse = [&out](CampaignRun::Code code, const std::string& why) {
        out.code = code;
        out.error = why;
        return out;
    };
    const auto read = readPlanFile(o.planPath);
    if (!read.plan) return refuse(CampaignRun::Code::Usage, read.error);
    const Plan& plan = *read.plan;
    out.dbPath = o.dbPath.empty() ? defaultDatabase(o.planPath) : o.dbPath;

    std::unique_ptr<ResultStore> store;
    try {
        store = std::make_unique<ResultStore>(out.dbPath);
        const auto hash = store->planHash();
        const auto done = store->committedKeys().size();
        if (hash && *hash != plan.hash)
            return refuse(CampaignRun::Code::Usage,
                          "\"" + out.dbPath + "\" holds a campaign of another plan (or of an edited copy of this one): "
                          "give another --db, or the plan it was made from");
        if (hash && !o.resume && done > 0)
            return refuse(CampaignRun::Code::Usage, "\"" + out.dbPath + "\" already holds " + std::to_string(done) +
                                                        " points of this plan: --resume continues it");
        if (o.accepted) o.accepted(out.dbPath, plan.pointCount(), done);
    } catch (const StoreError& e) {
        return refuse(CampaignRun::Code::Usage, e.what());
    }

    std::unique_ptr<Chamber> chamber;
    if (plan.hasTemperatures) {
        std::string port = o.chamberPort.empty() ? plan.chamberPort : o.chamberPort;
        // On the simulated board with no port named, the board's own chamber:
        // agreed on before the session creates the board.
        const char* boardVar = std::getenv("ZELBO_BOARD");
        const bool sim = o.sim ? *o.sim : (boardVar && std::strcmp(boardVar, "sim") == 0);
        if (port.empty() && sim && !o.openChamber) port = prepareSimulatedChamber();
        std::string why;
        chamber = o.openChamber ? o.openChamber(port, &why) : openCaloraChamber(port, &why, o.programFolder);
        if (!chamber) return refuse(CampaignRun::Code::Failed, "the chamber cannot be opened: " + why);
    }

    std::unique_ptr<engine::Session> session;
    engine::SessionOptions so;
    try {
        so.sim = o.sim;
        so.interrupted = o.abortPoint;
        if (!o.programFolder.empty()) so.link.programFolder = o.programFolder;
        session = std::make_unique<engine::Session>(so);
    } catch (const std::exception& e) {
        return refuse(CampaignRun::Code::NoBoard, e.what());
    }
    SessionInstrument instrument(*session, so.link.programFolder);
    CampaignInfo info;
    info.planText = plan.text;
    info.planHash = plan.hash;
    info.planSource = o.planPath;
    info.title = plan.title;
    info.program = std::string("zelbo ") + build::kVersion;
    info.firmware = instrument.firmware();
    info.board = instrument.board();
    info.chip = instrument.chip();
    info.chamber = chamber ? chamber->describe() : "";
    try {
        store->beginRun(info, store->planHash().has_value());
    } catch (const StoreError& e) {
        return refuse(CampaignRun::Code::Failed, e.what());
    }
    RunnerOptions ro;
    ro.stopRequested = o.stopRequested;
    ro.progress = o.progress;
    ro.pointDone = o.pointDone;
    ro.settle = o.settle;
    out.summary = runCampaign(plan, instrument, *store, chamber.get(), ro);
    try {
        store->endRun(outcomeName(out.summary.outcome));
    } catch (const StoreError&) {
    }
    try {
        session->close();
    } catch (const std::exception&) {
    }
    switch (out.summary.outcome) {
    case Outcome::Finished: out.code = CampaignRun::Code::Done; break;
    case Outcome::Stopped: out.code = CampaignRun::Code::Stopped; break;
    default: out.code = CampaignRun::Code::Failed; out.error = out.summary.message; break;
    }
    return out;
}

} // namespace zelbo::campaign

// The stand-in monitors' table and script (see monitors_state.h).
#include "monitors_state.h"

#include "log/common.h"
#include "log/logging.h"

namespace monitors
{

namespace
{

bool field_matches(const std::string &pattern, const std::string &value)
{
    return pattern == "*" || pattern == value;
}

// Refusals use the codes a peer's management handler answers with.
constexpr uint32_t refused_not_running = lc_err_not_found;
constexpr uint32_t refused_scripted = lc_err_generic_error;

} // namespace

void table::add_rule(const rule &r)
{
    rules_.push_back(r);
}

void table::clear()
{
    rules_.clear();
    running_.clear();
    stopped_.clear();
}

behaviour table::lookup(const request &req) const
{
    behaviour best;
    int best_score = -1;
    for (const auto &r : rules_) {
        if (!field_matches(r.kind, req.kind) || !field_matches(r.target, req.target) ||
            !field_matches(r.port, req.port) || (r.version != 0 && r.version != req.version))
            continue;
        const int score = (r.kind != "*") + (r.target != "*") + (r.port != "*") + (r.version != 0);
        if (score >= best_score) {
            best = r.what;
            best_score = score;
        }
    }
    return best;
}

answer table::handle(const request &req)
{
    const behaviour b = lookup(req);
    answer a;
    a.delay_ms = b.delay_ms;
    if (b.fail) {
        a.code = refused_scripted;
        a.message = "monitor failure scripted for " + req.port;
        return a;
    }
    const bool lives = req.kind == "ip_mon" || req.kind == "http_mon";
    if (lives) {
        const key k{req.kind, req.name, req.port, req.version};
        switch (req.code) {
        case mon_start:
            running_[k] = req.target;
            stopped_.erase(k);
            break;
        case mon_poll:
            if (stopped_.count(k)) {
                a.has_state = true; // stopped: reports down until started again
                return a;
            }
            if (!running_.count(k)) {
                a.code = refused_not_running;
                a.message = "no monitor " + req.name + " on port " + req.port + " IPv" +
                            std::to_string(req.version) + ": it was never started";
                return a;
            }
            break;
        case mon_delete:
            if (running_.erase(k)) stopped_[k] = req.target;
            return a; // a Delete's reply carries no state
        default:
            a.code = lc_err_bad_type;
            a.message = "unsupported monitor request " + std::to_string(req.code);
            return a;
        }
    }
    a.has_state = true;
    a.up = b.up;
    a.dns_fail = b.dns_fail;
    return a;
}

std::vector<std::string> table::running() const
{
    std::vector<std::string> out;
    for (const auto &[k, target] : running_)
        out.push_back(std::get<0>(k) + " " + std::get<1>(k) + " " + std::get<2>(k) + " " +
                      std::to_string(std::get<3>(k)));
    return out;
}

} // namespace monitors

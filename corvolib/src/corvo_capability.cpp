#include "corvo_config.h"

#include "corvolib.h"

#include <cstring>

namespace {

struct CapabilityRow
{
    const char *model;
    const char *firstVersion;
    const char *secondVersion;
    unsigned char flags[2];
    const char *capabilities;
};

// Searched in this order by substring, so "Pacer50" finds its own row before
// "Pacer50CR" and "Pacer20" finds the first row.
const CapabilityRow kRows[] = {
    {"Pacer20plus", "R002", "R012", {0, 0}, "0"},
    {"Pacer21", "R002", "R012", {0, 0}, "0"},
    {"Pacer20", "R002", "R012", {0, 0}, "0"},
    {"Pulsar30", "L012", "R031", {0, 0}, "0,1"},
    {"Pulsar35", "T002", "R011", {0, 0}, "0,1"},
    {"Pulsar40", "R009", "R017", {1, 0}, "1,101"},
    {"Pulsar60", "R009", "R017", {1, 0}, "0,1,6,9,101"},
    {"Pacer40", "R006", "R030", {1, 1}, "0,101,102"},
    {"Pacer35", "R008", "R057", {1, 1}, "0,102,103"},
    {"Pacer30", "R004", "R026", {1, 1}, "0,102,103"},
    {"Pacer50", "GH1.4.0.56", "R025", {1, 1}, "0,101,102,1001,1002,1003,1004"},
    {"Pacer50CR", "GH1.4.0.56", "R006", {1, 1}, "0,101,102,1001,1002,1003,1004"},
    {"Pacer60", "GH2.0.0.0", "R007", {1, 1}, "0,101,102,1001,1002,1003,1004"},
};

} // namespace

extern "C" int ProjSwCapability(const char *modelPattern, CorvoSwCapability *result)
{
    if (!modelPattern || !result)
        return 0;
    for (const CapabilityRow &row : kRows) {
        if (!std::strstr(row.model, modelPattern))
            continue;
        corvo::copyBounded(result->secondVersion, sizeof result->secondVersion, row.secondVersion);
        corvo::copyBounded(result->firstVersion, sizeof result->firstVersion, row.firstVersion);
        result->flags[0] = row.flags[0];
        result->flags[1] = row.flags[1];
        corvo::copyBounded(result->capabilities, sizeof result->capabilities, row.capabilities);
        return 1;
    }
    return 0;
}

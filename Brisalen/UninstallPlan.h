// What the one-key uninstall will do, worked out from what the engine read
// of the machine: the products it removes in their order, the install
// folders it queues, and the residual folders it deletes. Nothing here
// touches the machine or the log, so the same facts always give the same
// plan and the task then does what the plan lists, nothing more.
//
// The deletion guard has the last word on every folder: the engine judges
// each candidate folder with it while reading the facts, and a folder the
// guard did not pass never reaches the plan's deletion set.
#pragma once

#include <set>
#include <string>
#include <vector>

// An installed product of the family as its registration gives it.
struct FamilyProductFacts {
    int type = 0;
    std::wstring code;
    std::wstring name;
    std::wstring location;  // as recorded; anything at all
};

struct ProductRemovalStep {
    int position = 0;  // 1-based, as the log counts
    FamilyProductFacts product;
    // Whether its install folder joins the residual candidates (an iTunes
    // location that does not say "itunes" is no folder of ours).
    bool queuesFolder = false;
    std::wstring folder;  // the location normalised and folded, as queued
};

struct ProductRemovalPlan {
    std::vector<ProductRemovalStep> steps;  // by product type
    // Their own locations are theirs to lose; every other product's stays.
    std::vector<std::wstring> leavingCodes;
    std::set<std::wstring> queuedFolders;
};

ProductRemovalPlan PlanProductRemoval(std::vector<FamilyProductFacts> products);

// A candidate residual folder as the engine found it, judged by the guard
// when it exists.
struct ResidualFolderFacts {
    std::wstring folder;
    bool exists = false;
    bool guardAllows = false;  // only meaningful when it exists
};

// The residual folders the task ends programs in, deletes, and lists the
// leftovers of: the existing candidates the guard passed, in the
// candidates' order.
std::vector<std::wstring> PlanResidualFolders(const std::vector<ResidualFolderFacts>& candidates);

// The files the task still finds below the residual folders after deleting
// them, folded and deduplicated; it deletes each once more and reports the
// ones that stay. `listed` holds what a walk of each folder found.
std::set<std::wstring> PlanLeftoverDeletion(const std::vector<std::vector<std::wstring>>& listed);

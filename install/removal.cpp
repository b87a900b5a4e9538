#include "install/removal.h"

#include <exception>

#include "core/message_sink.h"
#include "install/texts.h"

namespace install {

StepRunner::StepRunner(std::vector<Step> steps, Reporter report)
    : steps_(std::move(steps)), report_(std::move(report)) {}

StepRunner StepRunner::prepared(const std::function<std::vector<Step>()>& prepare,
                                Reporter report) {
    std::vector<Step> steps;
    try {
        steps = prepare();
    } catch (...) {
        steps.assign(1, [failure = std::current_exception()]() -> StepResult {
            std::rethrow_exception(failure);
        });
    }
    return StepRunner(std::move(steps), std::move(report));
}

bool StepRunner::runNext() {
    if (finished()) return false;
    StepResult result = StepResult::Stop;
    const char* what = nullptr;
    bool escaped = false;
    try {
        result = steps_[next_]();
    } catch (const std::exception& failure) {
        escaped = true;
        what = failure.what();
        if (report_) report_(what);
    } catch (...) {
        escaped = true;
        if (report_) report_(nullptr);
    }
    ++next_;
    if (escaped) result = StepResult::Stop;
    if (result != StepResult::Done) failed_ = true;
    if (result == StepResult::Stop) stopped_ = true;
    return !finished();
}

namespace {

enum class Tree { Ok, Failed, Cancelled };

bool deleteOne(RemovalPort& port, const std::string& path) {
    if (!port.exists(path)) return true;
    if (port.deleteFile(path)) return true;
    port.message(texts::deleteFailed(path), texts::error(), core::kIconError);
    return false;
}

bool removeFolderItself(RemovalPort& port, const std::string& folder) {
    if (!port.exists(folder) || port.removeFolder(folder)) return true;
    port.message(texts::folderNotDeleted(folder), texts::error(), core::kIconError);
    return false;
}

Tree removeTree(RemovalPort& port, const RemovalPlan& plan, const std::string& dir) {
    std::string self = dir;
    if (endsWithBackslash(self, plan.dbcs)) self.pop_back();
    // A folder that is a link: the link goes, what it points at is not ours.
    if (port.isLink(self)) return removeFolderItself(port, self) ? Tree::Ok : Tree::Failed;
    bool ok = true;
    for (const auto& entry : port.list(dir)) {
        const std::string path = dir + entry.name;
        if (entry.folder && entry.link) {
            ok = removeFolderItself(port, path) && ok;
        } else if (entry.folder) {
            const Tree sub = removeTree(port, plan, path + "\\");
            if (sub == Tree::Cancelled) return Tree::Cancelled;
            if (sub == Tree::Failed) ok = false;
        } else if (isHelpIndex(entry.name)) {
            ok = deleteOne(port, path) && ok;
        } else {
            const int choice = port.message(texts::askDelete(path), plan.title,
                                            core::kIconQuestion | 0x3 /* MB_YESNOCANCEL */);
            if (choice == core::kAnswerCancel) return Tree::Cancelled;
            if (choice == core::kAnswerYes) ok = deleteOne(port, path) && ok;
        }
    }
    ok = removeFolderItself(port, self) && ok;
    return ok ? Tree::Ok : Tree::Failed;
}

// Whether a target below the installation folder is reached through a folder link.
bool throughLink(RemovalPort& port, const RemovalPlan& plan, const std::string& target) {
    std::string root = plan.installDir;
    if (endsWithBackslash(root, plan.dbcs)) root.pop_back();
    if (port.isLink(root)) return true;
    const std::string relative = target.substr(plan.installDir.size());
    for (std::string folder : subFoldersOf(plan.installDir, relative, plan.dbcs)) {
        folder.pop_back();
        if (port.isLink(folder)) return true;
    }
    return false;
}

}  // namespace

std::vector<Step> removalSteps(const RemovalPlan& plan, RemovalPort& port) {
    std::vector<Step> steps;
    const Description& d = *plan.description;
    for (const auto& value : d.regs) {
        steps.push_back([&port, &plan, &d, value] {
            const RegEntry entry = parseRegEntry(value);
            if (!allowedRegKey(entry, d, plan.dbcs)) {
                port.message(texts::abnormalReg(), texts::error(), core::kIconError);
                return StepResult::Done;
            }
            return port.deleteKeyTree(entry.root, entry.subKey) ? StepResult::Done
                                                                : StepResult::Failed;
        });
    }
    for (const auto& target :
         removalTargets(d, plan.installDir, plan.descriptionName, plan.installerName, plan.dbcs)) {
        steps.push_back([&port, &plan, target] {
            if (throughLink(port, plan, target.path)) return StepResult::Done;
            if (deleteOne(port, target.path)) return StepResult::Done;
            if (!target.entryOne) return StepResult::Failed;
            port.message(texts::tryAgain(target.path, plan.title), texts::error(),
                         core::kIconError);
            return StepResult::Stop;
        });
    }
    steps.push_back([&port, &plan] {
        switch (removeTree(port, plan, plan.installDir)) {
            case Tree::Cancelled:
                return StepResult::Stop;
            case Tree::Failed:
                return StepResult::Failed;
            case Tree::Ok:
                break;
        }
        return StepResult::Done;
    });
    steps.push_back(
        [&port] { return port.deleteUninstallEntry() ? StepResult::Done : StepResult::Failed; });
    for (const Place place : {Place::Menu, Place::Desktop, Place::Startup})
        steps.push_back([&port, place] {
            return port.removeShortcuts(place) ? StepResult::Done : StepResult::Failed;
        });
    return steps;
}

}  // namespace install

#pragma once

#include <functional>
#include <string>

// The factory's folder and the folders a handover moves it through, all beside each other in the
// modules folder so that every move is one rename on one file system:
//   modules/LiveModuleFactory/        the factory that starts
//   modules/LiveModuleFactory.new/    the next factory being assembled (never started from)
//   modules/LiveModuleFactory.old/    the previous factory, kept until the next one has started
//   modules/Temp/LiveModuleFactory.zip and modules/Temp/LiveModuleFactory/   the package and its extraction
// At every moment one of LiveModuleFactory/ and LiveModuleFactory.old/ is whole.
namespace LiveModule::handover {

// The points a handover passes, in order; a test can stop the process at each.
enum class Step { Released, Staged, OldSetAside, NewInPlace, PackageRemoved, NewStarted };
const char* StepName(Step step);

class FactoryFolders {
public:
    // factoryLibrary: .../modules/LiveModuleFactory/64bit/LiveModuleFactory.so
    explicit FactoryFolders(const std::string& factoryLibrary);

    const std::string& Library() const { return library; }
    bool HasKeptFactory() const;  // an old factory waits for the new one to start

    // Repairs what an interrupted handover left: drops a half-assembled next factory and puts the
    // kept one back when the factory's folder is gone. Returns what it did, empty when nothing.
    std::string Recover() const;

    // Assembles the next factory (the current folder overlaid by the extracted package), sets the
    // current one aside, moves the next one in and removes the package. False with `why` when the
    // extraction holds no factory library or a move failed; the current factory then stays (or is
    // put back) and the package is removed all the same, so it is not offered again at every start.
    bool Replace(std::string& why, const std::function<void(Step)>& reached) const;

    // The next factory cannot be loaded: it goes, the kept one comes back. False when there is none.
    bool PutBack(std::string& why) const;

    // The next factory has started: the kept one is no longer needed.
    void DropKept() const;

private:
    void RemovePackage() const;

    std::string library;  // as given
    std::string modules, current, staged, kept, package, extracted;  // folders without trailing "/"
};

}  // namespace LiveModule::handover

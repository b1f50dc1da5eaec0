// Opening a session: the same steps over either interface, compiled with
// the interface's session (it creates the environment).
#include <utility>

#include "frameserver/Session.h"
#include "support/SEException.h"

OpenedSession OpenSession(const std::string& libraryPath, int interfaceVersion) {
    OpenedSession opened;
    std::unique_ptr<FrameServerContext> session(new FrameServerContext);
    if (!session->Load(libraryPath)) {
        opened.Failure = OpenFailure::NoLibrary;
        opened.Text = WithSystemErrorText(kCannotLoadLibrary);
        return opened;
    }
    EnvironmentOutcome outcome = EnvironmentOutcome::Ready;
    const RunEnding created = RunFrameServerRegion([&] { outcome = session->CreateEnvironment(interfaceVersion); },
                                                   [] { return WithSystemErrorText(kCannotLoadLibrary); });
    if (created.Failed()) {
        opened.Failure = created.How == RunEnding::Kind::Fault ? OpenFailure::Faulted : OpenFailure::Failed;
        opened.Text = created.Message;
        session->UnloadAfter(created.How, true);
        return opened;
    }
    if (outcome != EnvironmentOutcome::Ready) {
        const bool noFactory = outcome == EnvironmentOutcome::NoFactory;
        opened.Failure = noFactory ? OpenFailure::NoFactory : OpenFailure::NoEnvironment;
        opened.Text = noFactory ? "Failed to load CreateScriptEnvironment()" : "Could not create IScriptenvironment";
        session->Unload();
        return opened;
    }
    opened.Session = std::move(session);
    return opened;
}

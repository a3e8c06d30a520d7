// VProcessLauncher.cpp - the launcher facade and the one-call command runner.
#include "basekit/process/VProcessLauncher.h"

#include "basekit/files/VFilePath.h"

namespace bkit {

VProcessLauncher::VProcessLauncher() : fImpl(std::make_unique<XPosixProcessLauncher>()) {}

VProcessLauncher::~VProcessLauncher() = default;

void VProcessLauncher::SetDefaultDirectory(const VFilePath& folder)
{
    VString posix;
    folder.GetPosixPath(posix);
    fImpl->SetDefaultDirectory(to_string(posix));
}

void VProcessLauncher::SetEnvironmentVariable(const VString& name, const VString& value)
{
    fImpl->SetEnvironmentVariable(name, value);
}

void VProcessLauncher::SetEnvironmentVariables(const EnvironmentVariables& variables)
{
    fImpl->SetEnvironmentVariables(variables);
}

void VProcessLauncher::SetBinaryPath(const VString& path) { fImpl->SetBinaryPath(path); }
void VProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& commandLine)
{
    fImpl->CreateArgumentsFromFullCommandLine(commandLine);
}
void VProcessLauncher::AddArgument(const VString& argument, bool quote) { fImpl->AddArgument(argument, quote); }
void VProcessLauncher::ClearArguments() { fImpl->ClearArguments(); }
void VProcessLauncher::SetWaitClosingChildProcess(int32_t ms) { fImpl->SetWaitClosingChildProcess(ms); }
void VProcessLauncher::SetRedirectStandardInput(bool on) { fImpl->SetRedirectStandardInput(on); }
void VProcessLauncher::SetRedirectStandardOutput(bool on) { fImpl->SetRedirectStandardOutput(on); }
void VProcessLauncher::SetQuoteArgumentsIfNeeded(bool on) { fImpl->SetQuoteArgumentsIfNeeded(on); }
void VProcessLauncher::EnableProcessTreeKill() { fImpl->EnableProcessTreeKill(); }
int VProcessLauncher::Start() { return fImpl->Start(); }

int VProcessLauncher::Start(const EnvironmentVariables& environment)
{
    fImpl->SetEnvironmentVariables(environment);
    return fImpl->Start();
}

void VProcessLauncher::CloseStandardInput() { fImpl->CloseStandardInput(); }
int VProcessLauncher::WriteToChild(const void* data, size_t size, bool closeAfter)
{
    return fImpl->WriteToChild(data, size, closeAfter);
}
int VProcessLauncher::WaitForData(int ms) { return fImpl->WaitForData(ms); }
ssize_t VProcessLauncher::ReadFromChild(void* buffer, size_t size) { return fImpl->ReadFromChild(buffer, size); }
ssize_t VProcessLauncher::ReadErrorFromChild(void* buffer, size_t size)
{
    return fImpl->ReadErrorFromChild(buffer, size);
}
int VProcessLauncher::ReadFromChildAndShutdown(const ChildOutputHandler& out, const ChildOutputHandler& err)
{
    return fImpl->ReadFromChildAndShutdown(out, err);
}
int VProcessLauncher::ReadStd(VMemoryBuffer<>* out, VMemoryBuffer<>* err) { return fImpl->ReadStd(out, err); }
int VProcessLauncher::KillProcess(int signal) { return fImpl->KillProcess(signal); }
bool VProcessLauncher::IsRunning() { return fImpl->IsRunning(); }
pid_t VProcessLauncher::GetPid() const { return fImpl->GetPid(); }
VError VProcessLauncher::Shutdown(bool wait, bool killTree) { return fImpl->Shutdown(wait, killTree); }
int32_t VProcessLauncher::GetExitStatus() const { return fImpl->GetExitStatus(); }

int VProcessLauncher::ExecuteCommandLine(const VString& commandLine, uint32_t options, const VMemoryBuffer<>* input,
                                         VMemoryBuffer<>* out, VMemoryBuffer<>* err,
                                         const EnvironmentVariables* environment, const VFilePath* workingFolder,
                                         int32_t* exitStatus, VProcessLauncher** outLauncher,
                                         const std::vector<VString>* extraArguments, bool quoteIfNeeded, bool killTree)
{
    VProcessLauncher* launcher = new VProcessLauncher;
    launcher->CreateArgumentsFromFullCommandLine(commandLine);
    return _Execute(launcher, options, input, out, err, environment, workingFolder, exitStatus, outLauncher,
                    extraArguments, quoteIfNeeded, killTree);
}

int VProcessLauncher::ExecuteCommandLine(const std::vector<VString>& arguments, uint32_t options,
                                         const VMemoryBuffer<>* input, VMemoryBuffer<>* out, VMemoryBuffer<>* err,
                                         const EnvironmentVariables* environment, const VFilePath* workingFolder,
                                         int32_t* exitStatus, VProcessLauncher** outLauncher, bool quoteIfNeeded,
                                         bool killTree)
{
    VProcessLauncher* launcher = new VProcessLauncher;
    if (!arguments.empty()) {
        launcher->SetBinaryPath(arguments.front());
        for (size_t i = 1; i < arguments.size(); ++i)
            launcher->fImpl->AddArgument(arguments[i], false);
    }
    return _Execute(launcher, options, input, out, err, environment, workingFolder, exitStatus, outLauncher, nullptr,
                    quoteIfNeeded, killTree);
}

int VProcessLauncher::_Execute(VProcessLauncher* launcher, uint32_t options, const VMemoryBuffer<>* input,
                               VMemoryBuffer<>* out, VMemoryBuffer<>* err, const EnvironmentVariables* environment,
                               const VFilePath* workingFolder, int32_t* exitStatus, VProcessLauncher** outLauncher,
                               const std::vector<VString>* extraArguments, bool quoteIfNeeded, bool killTree)
{
    bool dontWait = (options & kDontWaitForChild) != 0;
    if (environment != nullptr)
        launcher->SetEnvironmentVariables(*environment);
    if (workingFolder != nullptr)
        launcher->SetDefaultDirectory(*workingFolder);
    if (dontWait)
        launcher->SetWaitClosingChildProcess(0);
    launcher->SetQuoteArgumentsIfNeeded(quoteIfNeeded);
    if (extraArguments != nullptr) {
        for (const VString& argument : *extraArguments)
            launcher->AddArgument(argument, false);
    }
    if (killTree)
        launcher->EnableProcessTreeKill();

    int result = launcher->Start();
    if (result == 0) {
        bool reading = !dontWait && (out != nullptr || err != nullptr);
        bool writing = input != nullptr && input->GetDataSize() > 0;
        if (reading && writing) {
            result = launcher->fImpl->ExchangeStd(input->GetDataPtr(), input->GetDataSize(), out, err);
        } else {
            if (writing)
                launcher->WriteToChild(input->GetDataPtr(), input->GetDataSize(), false);
            launcher->CloseStandardInput();
            if (reading)
                result = launcher->ReadStd(out, err);
        }
        if (outLauncher == nullptr) {
            VError shutdown = launcher->Shutdown(false, killTree);
            if (shutdown == VE_OK && exitStatus != nullptr && launcher->fImpl->HasExitStatus())
                *exitStatus = launcher->GetExitStatus();
            // The time-out error is on the stack; the call fails like any step.
            if (result == 0 && shutdown != VE_OK)
                result = -1;
        }
    }
    if (outLauncher != nullptr)
        *outLauncher = launcher;
    else
        delete launcher;
    return result;
}

}  // namespace bkit

#pragma once
// zephran-server (or another program) as a child process of a test or a
// benchmark, with its standard output thrown away or read through a pipe,
// and its standard error left to this process or read too. Every wait is
// bounded. Owns the child and the pipes: a child still running at the end
// is killed.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

class CServerProcess {
public:
    enum class EOutput {
        Discard,     // standard output to /dev/null, standard error to ours
        Capture,     // standard output read through a pipe, standard error to ours
        CaptureBoth  // both read through pipes
    };

    // program: this build's zephran-server unless told otherwise.
    explicit CServerProcess(std::string program = ZEPHRAN_SERVER_PATH) : m_program(std::move(program)) {}
    ~CServerProcess();
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // Before Start: a variable of the child's environment, and how many bytes
    // its output pipe holds (0: the system's default).
    void SetEnvironment(const std::string& name, const std::string& value);
    void SetPipeBytes(int bytes) { m_nPipeBytes = bytes; }
    // Before Start: JOURNAL_STREAM names the captured standard output, as
    // when systemd connects it to the journal.
    void SetStdoutJournal() { m_bStdoutJournal = true; }

    // Start the program with args, output as asked; what an earlier run
    // wrote is forgotten. True if it could not be started.
    bool Start(EOutput output = EOutput::Discard, const std::vector<std::string>& args = {});
    // Start, then wait (5 s at most) until it listens on the sign-on port.
    // True if it did not; a child that runs on without listening is killed.
    bool StartListening(EOutput output = EOutput::Discard, const std::vector<std::string>& args = {});

    pid_t Pid() const { return m_pid; }
    // Whether the child still runs; once it has ended, Status says how.
    bool Running();
    // The exit status, 128 + the signal if a signal ended it, or -1 while
    // the child runs (or if it never ran).
    int Status() const { return m_nStatus; }
    void Signal(int sig) const;
    // SIGKILL, and wait for the end.
    void Kill();
    // Wait up to limit for the end, reading the captured output meanwhile so
    // that the child never waits on a full pipe. Status(), or -1 if the child
    // did not end in time.
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // SIGTERM, as Ctrl+C, then Wait.
    int Stop(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Read what has come of the captured output within waitMs. False once
    // every captured stream has ended (or none is captured).
    bool ReadOutput(int waitMs);
    // Standard output so far, waiting up to limit for it to hold text.
    const std::string& OutputHolding(const std::string& text,
                                     std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The complete lines of standard output so far, read without waiting.
    std::vector<std::string> Lines();
    // Standard output read so far, which is then forgotten.
    std::string TakeStdout() { return std::exchange(m_stdout, {}); }
    const std::string& Stdout() const { return m_stdout; }
    const std::string& Stderr() const { return m_stderr; }

private:
    void ClosePipes();

    std::string m_program;
    std::vector<std::string> m_environment;  // "NAME=value", in place of the inherited ones
    int m_nPipeBytes = 0;
    bool m_bStdoutJournal = false;
    pid_t m_pid = -1;
    int m_nStatus = -1;
    int m_out = -1;  // the read ends of the pipes, -1 once ended
    int m_err = -1;
    std::string m_stdout;
    std::string m_stderr;
};

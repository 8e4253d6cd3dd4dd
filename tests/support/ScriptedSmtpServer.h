#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

typedef struct ssl_st SSL;

// A scripted server on 127.0.0.1 (a free port) for tests of the socket and SMTP clients. It
// runs on its own thread with plain blocking sockets, so it never depends on the client
// pumping the event loop. The script is a list of steps run in order on one accepted
// connection (Accept steps take the next one). Every line the client sends is logged; a line
// that differs from an Expect step is recorded as a problem. No step waits more than a few
// seconds, so a client that falls silent gives a problem, never a hang.
class ScriptedSmtpServer
{
public:
    struct Step
    {
        enum Kind { Reply, Expect, ExpectAny, ReadData, ReadBytes, Pause, Close, Reset, Accept, Tls } kind;
        QByteArray text; // Reply: the bytes sent as they stand; Expect: the line without CR LF
        int amount = 0;  // Pause: milliseconds; ReadBytes: bytes to read
    };
    using Script = QList<Step>;

    // Sends text + CR LF (several lines may be given, each ended by "\r\n" already).
    static Step Say(const QByteArray &line) { return {Step::Reply, line + "\r\n"}; }
    static Step SayRaw(const QByteArray &bytes) { return {Step::Reply, bytes}; }
    static Step Expect(const QByteArray &line) { return {Step::Expect, line}; }
    // Reads one line, whatever it is.
    static Step ExpectAnyLine() { return {Step::ExpectAny, {}}; }
    // Reads the message text up to and including the line ".".
    static Step ReadMessage() { return {Step::ReadData, {}}; }
    // Reads (at least) this many bytes, or everything until the client closes with 0.
    static Step ReadSome(int bytes) { return {Step::ReadBytes, {}, bytes}; }
    static Step Wait(int ms) { return {Step::Pause, {}, ms}; }
    static Step Hangup() { return {Step::Close, {}}; }
    // Closes with a reset instead of an orderly close.
    static Step Abort() { return {Step::Reset, {}}; }
    static Step AcceptNext() { return {Step::Accept, {}}; }
    // The server's side of a TLS handshake, with the certificate stem.pem and its key
    // stem.key; what follows goes through the session.
    static Step Handshake(const QByteArray &stem) { return {Step::Tls, stem}; }

    // The usual opening and closing: greeting, HELO, and the whole of one mail.
    static Script Greeting(const QByteArray &helo = "HELO kelvo");
    static Script Mail(const QByteArray &from, const QList<QByteArray> &rcpts);

    // receiveBuffer > 0 makes the accepted socket's receive buffer that small, so that what
    // the client sends waits for the server to read it.
    explicit ScriptedSmtpServer(const Script &script, int receiveBuffer = 0);
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer &) = delete;
    ScriptedSmtpServer &operator=(const ScriptedSmtpServer &) = delete;

    quint16 Port() const { return port; }

    // Waits (at most a few seconds) for the script to run out and the client to
    // close; lines sent after the script ended are logged as unexpected.
    void Finish();
    // Ends the server at once (whatever step it is in), waits for its thread and hangs up.
    void Stop();

    // Every line received (without CR LF), in order; DATA text is not among them.
    QList<QByteArray> Lines() const;
    // The message text received after DATA, as sent (dot-stuffing kept), without the
    // final "." line. One entry per ReadMessage step.
    QList<QByteArray> Messages() const;
    // Expectations that failed, and lines that came when none was expected.
    QStringList Problems() const;
    // Whether every step of the script has run.
    bool ScriptDone() const { return done; }

private:
    void Run();
    bool RunStep(const Step &step);
    bool ReadLine(QByteArray &line);
    bool Fill();
    bool Send(const QByteArray &bytes);
    bool Accept();
    void CloseConnection();
    void Problem(const QString &what);
    void Log(const QByteArray &line, const QString &problem = {});

    Script script;
    int listener = -1;
    int conn = -1;
    SSL *ssl = nullptr;
    quint16 port = 0;
    QByteArray pending;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    mutable std::mutex mutex;
    QList<QByteArray> lines;
    QList<QByteArray> messages;
    QStringList problems;
    std::thread worker;
};

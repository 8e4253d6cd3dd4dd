#pragma once

#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

typedef struct ssl_st SSL;

// A scripted server on a free port of 127.0.0.1, on its own thread with blocking sockets, so it never depends on the
// client pumping the event loop. The steps run in order on one accepted connection (AcceptNext takes the next). A line
// received that differs from an Expect step is a problem. No step waits more than a few seconds.
class ScriptedSmtpServer
{
public:
    struct Step
    {
        enum Kind { Reply, Expect, ExpectClose, ReadData, ReadBytes, Pause, Close, Accept, Tls } kind;
        QByteArray text; // Reply: the bytes sent; Expect: the line without CR LF; Tls: the certificate
        int amount = 0;  // Pause: ms; ReadBytes: bytes; 1: any line (Expect), a reset (Close)
    };
    using Script = QList<Step>;

    static Step Say(const QByteArray &line) { return {Step::Reply, line + "\r\n"}; }
    static Step SayRaw(const QByteArray &bytes) { return {Step::Reply, bytes}; }
    static Step Expect(const QByteArray &line) { return {Step::Expect, line}; }
    static Step ExpectAnyLine() { return {Step::Expect, {}, 1}; }
    static Step ReadMessage() { return {Step::ReadData, {}}; }     // through the line "."
    static Step ExpectHangup() { return {Step::ExpectClose, {}}; } // the client closes without a word
    static Step ReadSome(int bytes) { return {Step::ReadBytes, {}, bytes}; }
    static Step Wait(int ms) { return {Step::Pause, {}, ms}; }
    static Step Hangup() { return {Step::Close, {}}; }
    static Step Abort() { return {Step::Close, {}, 1}; } // closes with a reset
    static Step AcceptNext() { return {Step::Accept, {}}; }
    // The server's side of a TLS handshake with stem.pem and stem.key; the rest goes through it.
    static Step Handshake(const QByteArray &stem) { return {Step::Tls, stem}; }

    // The usual opening and closing: greeting, HELO, and the whole of one mail.
    static Script Greeting();
    static Script Mail(const QByteArray &from, const QList<QByteArray> &rcpts);

    // receiveBuffer > 0: what the client sends waits in a receive buffer that small.
    explicit ScriptedSmtpServer(const Script &script, int receiveBuffer = 0);
    ~ScriptedSmtpServer();

    quint16 Port() const { return port; }
    // Waits for the script to run out and the client to close (lines after it are problems).
    void Finish();
    // Ends the server at once, whatever step it is in.
    void Stop();

    // Every line the client sent (without CR LF), the message text excepted; the text of
    // each ReadMessage step as sent, without the final "."; what went wrong.
    QList<QByteArray> Lines() const { return Locked(lines); }
    QList<QByteArray> Messages() const { return Locked(messages); }
    QStringList Problems() const { return Locked(problems); }

private:
    template <typename T> T Locked(const T &value) const
    {
        std::lock_guard lock(mutex);
        return value;
    }
    bool RunStep(const Step &step);
    bool StartTls(const QByteArray &certificate);
    bool ReadLine(QByteArray &line, bool logged = true);
    bool Fill();
    bool Accept();
    void CloseConnection();
    bool Problem(const QString &text); // false, so that a failing step can return it

    Script script;
    int listener = -1;
    int conn = -1;
    SSL *ssl = nullptr;
    quint16 port = 0;
    QByteArray pending;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    QList<QByteArray> lines;
    QList<QByteArray> messages;
    QStringList problems;
    std::thread worker;
};

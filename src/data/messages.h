#pragma once
// One seam for every message box and question of the station, so that tests
// can read what would be shown and answer questions without a modal dialog.

#include <QRect>
#include <QString>

class MessageService {
public:
    enum class Icon { Critical, Question, Information, Warning };
    // The answer that Enter gives.
    enum class Default { No, Yes };
    virtual ~MessageService() = default;
    // Shows a message with an OK button and returns when it is closed.
    virtual void show(const QString& title, const QString& text, Icon icon) = 0;
    // As show(), but the box keeps clear of `keep` (screen coordinates): the
    // place the user must see to put right what the message is about.
    virtual void showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep)
    {
        Q_UNUSED(keep);
        show(title, text, icon);
    }
    // Asks a Yes/No question (title "Atención", question icon by convention).
    virtual bool ask(const QString& title, const QString& text, Default defaultAnswer) = 0;


    // Shortcuts for the conventions: errors titled "Error" with the critical
    // icon, questions titled "Atención".
    void showError(const QString& text, const QString& title = QStringLiteral("Error"));
    // No is the default answer unless Yes is the safe one.
    bool askYesNo(const QString& text, Default defaultAnswer = Default::No);
};

// Without windows (tools, benchmarks) messages go to standard error and
// questions are answered No, the safe side.
class ConsoleMessages : public MessageService {
public:
    void show(const QString& title, const QString& text, Icon icon) override;
    bool ask(const QString& title, const QString& text, Default defaultAnswer) override;
};

// Writes every box shown through `inner` to the diagnostics log (Qt's
// message handler), its title and text as shown, then shows it: what the
// operator saw is what support reads.
class LoggedMessages : public MessageService {
public:
    explicit LoggedMessages(MessageService& inner) : m_inner(inner) {}
    void show(const QString& title, const QString& text, Icon icon) override;
    void showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep) override;
    bool ask(const QString& title, const QString& text, Default defaultAnswer) override;

private:
    MessageService& m_inner;
};

// The message catalogue: number -> text; empty for numbers outside it.
QString catalogueText(int number);

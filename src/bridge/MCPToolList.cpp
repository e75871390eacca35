#include "bridge/MCPBridgeRunner.h"

// The seven tools as the agent sees them. The texts are what the model reads to decide how to
// delegate, so they are kept exactly as written.

namespace {

QString u8(const char* text) { return QString::fromUtf8(text); }

QJsonObject property(const char* type, const char* description, QStringList values = {}) {
    QJsonObject p{{QStringLiteral("type"), u8(type)}, {QStringLiteral("description"), u8(description)}};
    if (!values.isEmpty()) p.insert(QStringLiteral("enum"), QJsonArray::fromStringList(values));
    return p;
}

QJsonObject tool(const char* name, const char* description, const QJsonObject& properties,
                 QStringList required = {}) {
    QJsonObject schema{{QStringLiteral("type"), QStringLiteral("object")},
                       {QStringLiteral("properties"), properties}};
    if (!required.isEmpty()) schema.insert(QStringLiteral("required"), QJsonArray::fromStringList(required));
    return {{QStringLiteral("name"), u8(name)},
            {QStringLiteral("description"), u8(description)},
            {QStringLiteral("inputSchema"), schema}};
}

}  // namespace

QJsonArray MCPBridgeRunner::toolList() {
    static const QJsonArray list = [] {
        QJsonArray tools;
        tools.append(tool(
            "spawn",
            R"(Create a new sub-agent session in its own git worktree (branch varnix/<branch>) and start an agent there with the given task as its opening prompt. Returns the new session_id, branch and worktree_path. Use this to delegate a unit of work — one feature/stage = one branch. Model choice: tier=light for mechanical/routine chores, tier=standard for ordinary coding, omit tier (=heavy) for architecture/review/hard problems; agent:"codex" gives an independent second opinion from a different model family. An explicit model id overrides tier.)",
            {
                {"task", property("string", "The task/prompt handed to the sub-agent as its first message.")},
                {"branch", property("string", "Short branch name (becomes varnix/<branch>). Optional — a unique name is generated if omitted.")},
                {"agent", property("string", "Which agent to run. Defaults to claude.", {"claude", "codex"})},
                {"base_branch", property("string", "Branch to fork the worktree from. Defaults to the repo's default branch. Pass a worker's branch to run a tester on top of its work.")},
                {"tier", property("string", R"(Model capability tier for the sub-agent: light = fast/cheap model for mechanical or routine work, standard = mid model for ordinary coding, heavy = the agent CLI's default (strongest) model — same as omitting. Ignored when 'model' is set; for agent:"codex" tiers have no built-in mapping and are ignored unless the user configured one.)",
                                  {"light", "standard", "heavy"})},
                {"model", property("string", "Exact model id/alias to launch the sub-agent with (e.g. 'haiku', 'sonnet' for claude). Overrides 'tier'. Omit to use the agent's default model.")},
            },
            {"task"}));
        tools.append(tool(
            "status",
            "Get a sub-agent session's current state (idle/thinking/generating/userInput/exited) and branch, or {exists:false} if it was closed. When the agent process has terminated, returns exited:true and exit_code — stop polling and read result().",
            {{"session_id", property("string", "The session_id returned by spawn.")}},
            {"session_id"}));
        tools.append(tool("list", "List the sub-agent sessions this orchestrator has spawned.", QJsonObject()));
        tools.append(tool(
            "result",
            "Read a sub-agent's most recent answer (from its transcript) — use it to judge whether the sub-agent finished or asked a question, and to summarize its work. Returns {has_result, text, state}.",
            {{"session_id", property("string", "The session to read.")}},
            {"session_id"}));
        tools.append(tool(
            "say",
            "Send text into a sub-agent session — e.g. a clarification or a 'please rework X' instruction. By default the text is submitted (Enter); pass submit=false to type without submitting.",
            {
                {"session_id", property("string", "Target session_id.")},
                {"text", property("string", "Text to send.")},
                {"submit", property("boolean", "Whether to press Enter after the text (default true).")},
            },
            {"session_id", "text"}));
        tools.append(tool(
            "close",
            "Close a sub-agent session (the user is asked to confirm). This ends the session only — it does NOT merge or delete its branch. Ask the user before closing a finished sub-agent.",
            {{"session_id", property("string", "Session to close.")}},
            {"session_id"}));
        tools.append(tool(
            "merge",
            "Merge a sub-agent's branch into the project's current branch. The user is ALWAYS shown a confirmation dialog before the merge runs — never assume it succeeded. After a successful merge the user is offered to delete the worktree+branch (cleanup). Returns {merged, output, cleanup} or {merged:false, declined:true} if the user cancels.",
            {{"branch", property("string", "Branch to merge, e.g. 'varnix/fixtest' or just 'fixtest'.")}},
            {"branch"}));
        return tools;
    }();
    return list;
}

#include "diagnostics/bundle_rules.h"

#include <algorithm>

#include "journal/journal_rules.h"

std::vector<std::wstring> BundleJournalNames(std::wstring_view liveName) {
    std::vector<std::wstring> names{std::wstring(liveName), RotatingJournalName(liveName)};
    for (int n = 1; n <= kJournalKeptFiles; ++n) names.push_back(RotatedJournalName(liveName, n));
    return names;
}

std::string_view LastLines(std::string_view text, size_t count) {
    if (count == 0) return text.substr(text.size());
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    while (end > 0) {
        const size_t lf = text.rfind('\n', end - 1);
        if (lf == std::string_view::npos) break;
        if (--count == 0) return text.substr(lf + 1);
        end = lf;
    }
    return text;
}

std::wstring FormatTextTable(const std::vector<std::wstring>& headers,
                             const std::vector<std::vector<std::wstring>>& rows) {
    std::vector<size_t> widths;
    for (const std::wstring& header : headers) widths.push_back(header.size());
    for (const auto& row : rows) {
        if (row.size() > widths.size()) widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::wstring out;
    auto line = [&](const std::vector<std::wstring>& cells) {
        std::wstring text;
        for (size_t i = 0; i < widths.size(); ++i) {
            const std::wstring cell = i < cells.size() ? cells[i] : std::wstring();
            text += cell;
            if (i + 1 < widths.size()) text.append(widths[i] - cell.size() + 2, L' ');
        }
        // Padding after the last cell helps no one.
        text.erase(text.find_last_not_of(L' ') + 1);
        out += text + L"\r\n";
    };
    line(headers);
    std::vector<std::wstring> rule;
    for (size_t width : widths) rule.emplace_back(width, L'-');
    line(rule);
    for (const auto& row : rows) line(row);
    return out;
}

namespace {
void AddFact(std::wstring& out, std::wstring_view label, std::wstring_view value) {
    out.append(label).append(L": ").append(value.empty() ? L"(unknown)" : value).append(L"\r\n");
}

std::wstring AgentFileText(const AgentFileFacts& agent) {
    if (!agent.bFound) return L"not found (error " + std::to_wstring(agent.error) + L")";
    return L"version " + (agent.fileVersion.empty() ? std::wstring(L"(none)") : agent.fileVersion) + L", " +
           std::to_wstring(agent.size) + L" bytes, SHA-256 " +
           (agent.sha256.empty() ? std::wstring(L"(not readable)") : agent.sha256);
}
}  // namespace

std::wstring FormatDiagnosticsSummary(const DiagnosticsFacts& facts) {
    std::wstring out = L"Diagnostics\r\n===========\r\n";
    AddFact(out, L"Created", facts.created);
    AddFact(out, L"Product version", facts.productVersion);
    AddFact(out, L"Build", facts.build);
    AddFact(out, L"Windows", facts.windowsVersion);
    AddFact(out, L"DPI", std::to_wstring(facts.dpi));
    AddFact(out, L"Language", facts.language);
    AddFact(out, L"Agent", facts.agentPath);
    AddFact(out, L"Agent file", AgentFileText(facts.agent));
    AddFact(out, L"Held", facts.held);

    out += L"\r\nRuns, newest first\r\n------------------\r\n";
    if (!facts.bRunsKnown) {
        out += L"(not known)\r\n";
    } else if (facts.runs.empty()) {
        out += L"(none in the journal)\r\n";
    } else {
        std::vector<std::vector<std::wstring>> rows;
        for (const BundleRun& run : facts.runs)
            rows.push_back({run.started, run.ended, run.runTime, run.howEnded, run.pid, run.lines});
        out += FormatTextTable({L"Started", L"Ended", L"Run time", L"How it ended", L"PID", L"Lines"}, rows);
    }
    if (!facts.notes.empty()) {
        out += L"\r\nNotes\r\n-----\r\n";
        for (const std::wstring& note : facts.notes) out += note + L"\r\n";
    }
    const std::wstring heading = L"The journal's last " + std::to_wstring(facts.lastLineCount) + L" lines";
    out += L"\r\n" + heading + L"\r\n" + std::wstring(heading.size(), L'-') + L"\r\n";
    out += facts.lastLines;
    return out;
}

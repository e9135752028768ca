#include "planwin/PlanTexts.h"

#include "planwin/PlanWindow.h"

namespace tamberlo::planwin {

QString usageText(const plan::Layout& layout, int missingRows) {
    if (!layout.chip)
        return PlanWindow::tr("型号自动：已用 %1 行 (%2 s)，%3 段")
            .arg(layout.rowsUsed)
            .arg(layout.row.msOf(layout.rowsUsed) / 1000.0, 0, 'f', 1)
            .arg(layout.messages.size());
    const double usedS = layout.row.msOf(layout.rowsUsed) / 1000.0;
    const double haveS = layout.row.msOf(layout.rowsAvailable()) / 1000.0;
    QString usage = PlanWindow::tr("%1：已用 %2 / %3 行 (%4 s / %5 s)，%6 段")
                        .arg(layout.chip->nameText())
                        .arg(layout.rowsUsed)
                        .arg(layout.rowsAvailable())
                        .arg(usedS, 0, 'f', 1)
                        .arg(haveS, 0, 'f', 1)
                        .arg(layout.messages.size());
    if (missingRows > 0)
        usage += PlanWindow::tr("——放不下，缺 %1 行").arg(missingRows);
    return usage;
}

QString recordedText(const plan::ProgramOutcome& outcome, int resumeFrom) {
    using Kind = plan::ProgramOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Done:
        return PlanWindow::tr("全部录完：%1 段，芯片中的段与计划一致。")
                   .arg(outcome.complete.size()) +
               (outcome.notes.isEmpty() ? QString() : QLatin1Char('\n') + outcome.notes.join('\n'));
    case Kind::Mismatch:
        return PlanWindow::tr("录完了，但芯片与计划不一致：\n%1")
            .arg(outcome.mismatches.join('\n'));
    case Kind::PlanRefused:
        return PlanWindow::tr("什么都没有录：\n%1").arg(outcome.problems.join('\n'));
    case Kind::Fault:
        break;
    }
    // The command line's own words under a line that says what the button does.
    return (resumeFrom > 0 ? PlanWindow::tr("录音中断，可从第 %1 段继续：").arg(resumeFrom)
                           : PlanWindow::tr("录音中断：")) +
           QLatin1Char('\n') + outcome.error;
}

QString checksText(const plan::ChipComparison& chip) {
    QString text = PlanWindow::tr("芯片中有 %1 段：找到 %2，缺失 %3，移位 %4")
                       .arg(chip.chipMessages)
                       .arg(chip.found)
                       .arg(chip.missing)
                       .arg(chip.moved);
    if (!chip.unplanned.isEmpty()) {
        QStringList rows;
        for (int s : chip.unplanned)
            rows << plan::rowText(s);
        text += PlanWindow::tr("；计划外的段：%1").arg(rows.join(QLatin1String(", ")));
    }
    return text + PlanWindow::tr("。");
}

QString exportSuffix(plan::ExportFormat format) {
    switch (format) {
    case plan::ExportFormat::Header:
        return QStringLiteral("h");
    case plan::ExportFormat::Csv:
        return QStringLiteral("csv");
    case plan::ExportFormat::Json:
        break;
    }
    return QStringLiteral("json");
}

QString exportFilter(plan::ExportFormat format) {
    switch (format) {
    case plan::ExportFormat::Header:
        return PlanWindow::tr("C 头文件 (*.h)");
    case plan::ExportFormat::Csv:
        return PlanWindow::tr("CSV 表格 (*.csv)");
    case plan::ExportFormat::Json:
        break;
    }
    return PlanWindow::tr("JSON (*.json)");
}

} // namespace tamberlo::planwin

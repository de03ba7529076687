#include "CutList.h"

#include <QRegularExpression>

#include "components/files/LocalFileName.h"

namespace clipwren::cut {

namespace {
constexpr int kFields = 4;  // input, begin, end, output
}

std::vector<ListedCut> parseCutList(const QByteArray& text) {
    std::vector<ListedCut> cuts;
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray raw = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        if (raw.trimmed().isEmpty() || raw.trimmed().startsWith('#')) continue;
        // Names keep their bytes, as on the command line.
        const QString line = files::decodeFileName(raw);
        QStringList fields = line.contains(QLatin1Char('\t')) ? line.split(QLatin1Char('\t'))
                                                               : line.trimmed().split(spaces);
        ListedCut cut;
        cut.name = QStringLiteral("line %1").arg(i + 1);
        if (fields.size() != kFields) {
            cut.error = QStringLiteral("a cut takes %1 fields (input, begin, end, output), this line has %2")
                            .arg(kFields)
                            .arg(fields.size());
            cuts.push_back(std::move(cut));
            continue;
        }
        CutRequest& request = cut.request;
        request.input = fields[0];
        request.output = fields[3];
        const std::optional<int32_t> begin = parseCutTime(fields[1]);
        const std::optional<int32_t> end = parseCutTime(fields[2]);
        if (!begin || !end)
            cut.error = QStringLiteral("not a valid time: \"%1\" (mm:ss:mmm or seconds such as 83.456)")
                            .arg(begin ? fields[2] : fields[1]);
        else if (*begin >= *end)
            cut.error = QStringLiteral("the begin is not before the end");
        else if (request.input.isEmpty() || request.output.isEmpty())
            cut.error = QStringLiteral("the input or output name is empty");
        else {
            request.range = soundeditor::SampleRange::fromMs(*begin, *end);
        }
        cuts.push_back(std::move(cut));
    }
    return cuts;
}

}  // namespace clipwren::cut

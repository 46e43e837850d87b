#include "context/PdfText.h"

#include <QFile>

#include <memory>
#include <mutex>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

namespace {
// Poppler prints every complaint about a damaged file to stderr; a file the user picked is
// allowed to be damaged.
void silencePoppler() {
    static std::once_flag once;
    std::call_once(
        once, [] { poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr); });
}
} // namespace

std::optional<QString> readPdfText(const QString& path) {
    silencePoppler();
    const std::unique_ptr<poppler::document> document(
        poppler::document::load_from_file(QFile::encodeName(path).toStdString()));
    if (!document || document->is_locked())
        return std::nullopt;
    QString text;
    const int pages = document->pages();
    for (int index = 0; index < pages; ++index) {
        const std::unique_ptr<poppler::page> page(document->create_page(index));
        if (!page)
            continue;
        // Reading order, as pdftotext gives it by default, not the physical column layout.
        const poppler::byte_array utf8 =
            page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
        // Poppler ends each page with a form feed, also a page that holds no text at all.
        QString pageText = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
        pageText.remove(QLatin1Char('\f'));
        if (pageText.trimmed().isEmpty())
            continue;
        text += pageText;
        text += QLatin1Char('\n');
    }
    return text;
}

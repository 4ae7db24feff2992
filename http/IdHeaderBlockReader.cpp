#include "http/IdHeaderBlockReader.h"

#include "http/IdException.h"

std::size_t TIdHeaderBlockReader::Feed(std::string_view bytes)
{
    std::size_t taken = 0;
    while (!done_ && taken < bytes.size()) {
        std::string_view rest = bytes.substr(taken);
        const std::size_t lf = rest.find('\n');
        const std::size_t piece = lf == std::string_view::npos ? rest.size() : lf;
        if (partial_.size() + piece > maxLineLength_)
            throw EIdReadLnMaxLineLengthExceeded();
        partial_.append(rest.substr(0, piece));
        if (lf == std::string_view::npos) {
            taken = bytes.size();
            break;
        }
        taken += lf + 1;
        if (!partial_.empty() && partial_.back() == '\r')
            partial_.pop_back();
        if (partial_.empty())
            done_ = true;
        else
            target_.Add(std::move(partial_));
        partial_.clear();
    }
    return taken;
}

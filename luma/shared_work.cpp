#include "luma/shared_work.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace zeverive::luma {

void share_work(int lanes, size_t count, size_t least,
                const std::function<void(size_t part, size_t from, size_t to)>& work) {
    const size_t parts = std::clamp<size_t>(count / std::max<size_t>(least, 1), 1, static_cast<size_t>(std::max(lanes, 1)));
    if (parts == 1) {
        work(0, 0, count);
        return;
    }
    const auto bound = [&](size_t part) { return count * part / parts; };
    std::vector<std::exception_ptr> errors(parts);
    const auto run = [&](size_t part) {
        try {
            work(part, bound(part), bound(part + 1));
        } catch (...) {
            errors[part] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    std::vector<size_t> here;
    for (size_t part = 1; part < parts; ++part) {
        try {
            threads.emplace_back(run, part);
        } catch (const std::system_error&) {
            here.push_back(part);
        }
    }
    run(0);
    for (size_t part : here) run(part);
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

}  // namespace zeverive::luma

// Cover pictures from tags and folders: planning and making thumbnails.
#include <cstdlib>

#include "pages/thumbnail.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view picture = AsText(data, size);
    const std::vector<TThumbnailSize> plan = PlanThumbnails(picture, {200, 48});
    const std::vector<TThumbnail> made = MakeThumbnails(picture, {200, 48});
    // Pages are laid out with the planned sizes before the thumbnails exist.
    for (std::size_t i = 0; i < plan.size(); ++i)
        if (plan[i].Width != 0 && !made[i].Jpeg.empty() &&
            (plan[i].Width != made[i].Width || plan[i].Height != made[i].Height))
            std::abort();
    return 0;
}

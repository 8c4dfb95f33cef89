# Collects from a device description at a given UTC time: docs_collect TIME DEVICE FOLDER ARGS...
# The package's name and its bytes depend on the time and the description only.
docs_collect() {
    local at=$1 device=$2 folder=$3
    shift 3
    mkdir -p "$folder"
    TRAWLER_DOCS_NOW=$(date -u -d "$at" +%s) trawler-cli collect --device "$device" \
        --folder "$folder" --progress none "$@"
}

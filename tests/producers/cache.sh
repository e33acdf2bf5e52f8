# Sourced by the producer checks. What a producer makes is made once per build and kept in the
# build folder; every run copies it and reads it anew. The key is what it was made from: the
# files given and the installed versions of the producers' packages.
producer_packages="openssl gnutls-bin libnss3-tools default-jre-headless default-jdk-headless \
libbcprov-java python3-cryptography"

# from_cache CACHE TARGET MAKER FILE...: fills the folder TARGET with what the shell function
# MAKER made in an empty current folder from FILE...; MAKER runs only when CACHE holds nothing
# for them yet.
from_cache() {
    cache=$1 target=$2 maker=$3
    shift 3
    # shellcheck disable=SC2086  # one name a package
    key=$({ sha256sum "$@" | cut -d' ' -f1; dpkg-query -W $producer_packages; } | sha256sum |
        cut -c1-16)
    if [ ! -d "$cache/$key" ]; then
        mkdir -p "$cache"
        making=$(mktemp -d "$cache/.making-XXXXXX")
        if ! (cd "$making" && "$maker"); then
            rm -rf "$making"
            return 1
        fi
        # Another run may have made the same meanwhile: either is whole.
        mv -T "$making" "$cache/$key" 2>/dev/null || rm -rf "$making"
    fi
    cp -R "$cache/$key/." "$target"
}

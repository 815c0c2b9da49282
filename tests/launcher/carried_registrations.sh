#!/usr/bin/env bash
# The launcher image carries the configuration records' registrations with
# the serialization library: the serializers that static initialisation
# registers, found by their type names, which a stripped image keeps too.
#   bash tests/launcher/carried_registrations.sh IMAGE
set -uo pipefail
image=$1
serializer() { printf 'N5boost7archive6detail%s%sINS0_12xml_%sarchiveEN6config%sEEE' "${#1}" "$1" "$2" "$3"; }
expected=(
    "$(serializer iserializer i 10suite_impl)"
    "$(serializer pointer_iserializer i 10suite_impl)"
    "$(serializer oserializer o 10suite_impl)"
    "$(serializer iserializer i 10proxy_impl)"
    "$(serializer oserializer o 10proxy_impl)"
    "$(serializer iserializer i 11update_impl)"
    "$(serializer oserializer o 11update_impl)"
    "$(serializer iserializer i 14records_detail9list_formINS4_11update_implEE)"
    "$(serializer oserializer o 14records_detail9list_formINS4_11update_implEE)"
)
missing=0
for name in "${expected[@]}"; do
    if ! LC_ALL=C grep -q -a -F "$name" "$image"; then
        echo "not carried: $name" >&2
        missing=1
    fi
done
[ "$missing" -eq 0 ] && echo "$image carries the records' ${#expected[@]} registrations"
exit "$missing"

# The Wine suite: the package tool built for Windows. Sourced by run.sh.

begin windows_package_tool
# The package tool built for Windows writes the same bytes as the native one.
manifest_path() { dos "$1" | sed 's/\\/\\\\/g'; }
{
    printf 'stub "%s" Reader.exe\n' "$(manifest_path "$launcher")"
    printf 'file installer32 setup.exe "%s"\n' "$(manifest_path "$installer")"
    printf '%s\n' 'value executable32 %installer32%' 'value parameters "/V\"PARTNERID=5 WEBINSTALLER=1 \""' \
        'value msilog ON'
} > "$case_dir/manifest"
wine "$windows_qvpack" build -o "$(dos "$case_dir/package.exe")" --manifest "$(dos "$case_dir/manifest")" \
    > "$case_dir/output" 2>&1
check_true "qvpack.exe writes the package the native qvpack writes" cmp -s "$case_dir/package.exe" "$packages/example.exe"

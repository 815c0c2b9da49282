// The package writer with the calls that only tests make (archive/writer.h
// keeps them protected): packages no tool builds, damaged ones included.
#pragma once

#include "archive/writer.h"

namespace qv_test {

class package_writer : public archive::package_writer {
public:
    using archive::package_writer::package_writer;
    using archive::package_writer::record_damage;

    using archive::package_writer::add_file_data;
    using archive::package_writer::add_record;
    using archive::package_writer::add_trailing;
    using archive::package_writer::damage_next_record;
    using archive::package_writer::size;
};

}  // namespace qv_test

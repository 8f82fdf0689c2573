-- Account database of the Talvorine Messenger Server, MariaDB (larger sites; a Galera
-- cluster for scale-out). Safe to run again: every object is created only when missing.

CREATE TABLE IF NOT EXISTS USERS (
    ID          VARCHAR(8) COLLATE utf8mb4_bin  NOT NULL PRIMARY KEY,
    Password    VARCHAR(128) COLLATE utf8mb4_bin NOT NULL DEFAULT '',
    Disabled    BOOLEAN      NOT NULL DEFAULT 0,
    Online      BOOLEAN      NOT NULL DEFAULT 0,
    UserId      INT,
    RealName    VARCHAR(64)  NOT NULL DEFAULT '',
    Nickname    VARCHAR(64)  NOT NULL DEFAULT '',
    Gender      INT          NOT NULL DEFAULT 0,
    Birthday    VARCHAR(255) NOT NULL DEFAULT '',
    Email       VARCHAR(255) NOT NULL DEFAULT '',
    HomePage    VARCHAR(255) NOT NULL DEFAULT '',
    Address     VARCHAR(255) NOT NULL DEFAULT '',
    City        VARCHAR(64)  NOT NULL DEFAULT '',
    State       VARCHAR(64)  NOT NULL DEFAULT '',
    Country     VARCHAR(64)  NOT NULL DEFAULT '',
    Zip         VARCHAR(16)  NOT NULL DEFAULT '',
    Phone       VARCHAR(32)  NOT NULL DEFAULT '',
    Fax         VARCHAR(32)  NOT NULL DEFAULT '',
    MobilePhone VARCHAR(32)  NOT NULL DEFAULT '',
    BeepPager   VARCHAR(32)  NOT NULL DEFAULT '',
    Company     VARCHAR(128) NOT NULL DEFAULT '',
    Department  VARCHAR(64)  NOT NULL DEFAULT '',
    Position    VARCHAR(64)  NOT NULL DEFAULT '',
    Occupation  VARCHAR(64)  NOT NULL DEFAULT '',
    Description VARCHAR(255) NOT NULL DEFAULT ''
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

CREATE TABLE IF NOT EXISTS OFFLINEMSG (
    MsgId     BIGINT       NOT NULL AUTO_INCREMENT PRIMARY KEY,
    Sender    VARCHAR(8) COLLATE utf8mb4_bin  NOT NULL,
    Recipient VARCHAR(8) COLLATE utf8mb4_bin  NOT NULL,
    RecvTime  BIGINT       NOT NULL,
    Richtext  INT          NOT NULL DEFAULT 0,
    Brief     VARCHAR(30)  NOT NULL DEFAULT '',
    Body      MEDIUMTEXT   NOT NULL,
    INDEX OFFLINEMSG_Recipient (Recipient)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- Passwords are kept as salted hashes (about 73 characters); a table made before that had
-- room for 16.
ALTER TABLE USERS MODIFY Password VARCHAR(128) COLLATE utf8mb4_bin NOT NULL DEFAULT '';

#pragma once
// The status page of an account: the HTML template ServerWeb/Templet_Ex.htm with its placeholders
// filled from the account and from the user's current connections.
#include <cstdint>
#include <string>

#include "core/ClientEntry.h"
#include "core/LocalTime.h"

class CKavroGyBl;

// The seven values of the account lookup, in its order; a value it cannot supply stays empty.
struct AccountValues {
  std::string validity;  // or the lookup's failure text
  std::string services;
  std::string allowance;
  std::string usedTime;
  std::string contact;
  std::string telephone;
  std::string company;
};

// What the user's connections show: the status texts and the devices they serve.
struct UserStatus {
  std::string status;
  std::string online;
};

// The template's lines joined without their line ends; empty when the file cannot be read.
std::string ReadStatusTemplate(const std::string& path);
// Walks the table in socket order over the entries whose userName equals the user name.
UserStatus UserConnectionStatus(const ClientTable& table, const std::string& userName);
// Text with the HTML and XML special characters & < > " ' written as entities.
std::string EscapeHtml(const std::string& text);
// Replaces every placeholder of the template with its value, HTML-escaped. Only the template's own
// text is searched, so an inserted value is never taken for a placeholder.
std::string FillStatusPage(const std::string& page, const LocalTime& today, const std::string& userName,
                           const AccountValues& account, const UserStatus& status);

// Reads the template under the program directory, fills it for the user and sends the page, whole
// (through the write queue when it does not fit outBuffer) or, without a template, nothing.
void SendStatusPage(CKavroGyBl& gybl, uint32_t socket, const std::string& userName,
                    const AccountValues& account);
